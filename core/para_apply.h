// The apply road's shared pieces: every writer of the parameter image changes
// its bytes under one mutex and then raises the apply byte; the video
// processor is the byte's reader. They live here, beside the image, so a
// writer needs nothing of the video processor.
#pragma once

#include <atomic>
#include <pthread.h>

#include "core/global.h"

// The apply byte. Storing a nonzero value calls the reader's wake hook, so an
// apply starts at once instead of at the reader's next idle turn; it never
// lowers a pending request (an edit does not undo a pending 2).
class C331ApplyByte
{
  public:
    C331ApplyByte& operator=(u8 value);
    operator u8() const { return value_.load(); }
    u8 load() const { return value_.load(); }

    // Installed by the reader when it starts; null wakes nobody.
    static void set_wake_hook(void (*hook)());

  private:
    std::atomic<u8> value_{0};
};

// Readers of the image outside the apply road (the Wi-Fi thread follows the
// Wi-Fi switch) learn of every write through one hook: each raised apply byte
// and each PC image write calls it. Installed at start-up; null tells nobody.
void set_image_written_hook(void (*hook)());
void image_written();

// Guards the apply byte and the image writes that go with it.
//
// Lock order, kept everywhere so that no two threads wait on each other:
// the user modes' file mutex (ZevRamPara::modes_file_mutex), then the
// image's file mutex (ZevRamPara::image_file_mutex), then this apply mutex,
// then Utils::_led_para_init_mutex, then an FPGA's
// register lock (fpga_manage::reg_mutex), then the FPGA parameter pages' lock
// (fpga_manage::para_mutex), then Utils::_spi_mutex. Nothing is taken under
// the LED set-up mutex (the FPGA worker decides its set-up step under it and
// writes the registers after), and no thread holding a register lock takes
// the apply mutex (the screen register's blackout mirror takes it first; the
// FPGA command page runs with neither held). Under the parameter pages' lock
// only the SPI mutex of a page's own RAM transfer is taken: the registers,
// the image and the flash are read before it.
extern pthread_mutex_t g_para_apply_mutex;
// 1 apply the edited image, 2 apply after a factory reset.
extern C331ApplyByte g_para_update_flag;

// Holds the apply mutex for a scope.
class C331Lock
{
  public:
    C331Lock() { pthread_mutex_lock(&g_para_apply_mutex); }
    ~C331Lock() { pthread_mutex_unlock(&g_para_apply_mutex); }
    C331Lock(const C331Lock&) = delete;
    C331Lock& operator=(const C331Lock&) = delete;
};

// Writes done under the mutex, then asks for the apply with code.
template <typename F> void c331_apply(u8 code, F&& write)
{
    C331Lock lock;
    write();
    g_para_update_flag = code;
}

// As c331_apply, for writes that may find nothing to do: write returns
// whether it changed the image, and only then is the apply asked for.
template <typename F> bool c331_apply_if(u8 code, F&& write)
{
    C331Lock lock;
    if (!write())
        return false;
    g_para_update_flag = code;
    return true;
}
