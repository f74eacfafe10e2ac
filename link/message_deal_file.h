// What the file commands call of the pages that show the record files.
// Start-up installs these; an unset hook does nothing. A page hook queues its
// call to the GUI thread and does nothing while its page does not exist.
#pragma once

#include <functional>

struct FileCommandHooks {
    // SmartMapping::Button_back_clicked, Option::language_changed,
    // rcv_recovery::menulist_back_page, AdvancedOption::language_changed.
    std::function<void()> smartmapping_back;
    std::function<void()> option_language_changed;
    std::function<void()> recovery_menulist_back;
    std::function<void()> advanced_language_changed;
};
extern FileCommandHooks g_file_command_hooks;
