// Work handed to the GUI thread from any thread.
#pragma once

#include <functional>

// Runs work later on the GUI thread, in the order handed. It travels in a
// posted event, which Qt's post queue hands over under its lock and the GUI
// thread deletes once the work ran: a queued call of a functor would leave
// its slot object, counted inside Qt, to whichever thread drops it last, a
// hand-over ThreadSanitizer cannot see. Without an application the work is
// dropped; the work finds what it needs when it runs.
void gui_call(std::function<void()> work);
