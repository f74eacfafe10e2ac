// Manager of the LED-output FPGA and its receiving cards.
#pragma once

#include <atomic>

#include "core/global.h"

class fpga_manage {
public:
    static fpga_manage* p_fpga_manage;

    // Set to 1 by the video-processor thread under Utils::_bri_set_mutex when
    // the image's brightness changed; the worker clears it once applied.
    std::atomic<u8> bri_set_flag{0};
};
