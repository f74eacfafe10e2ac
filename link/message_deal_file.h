// What the file commands call beyond the link: the record-file lists of the
// FPGA manager's receiving-card reader and the pages that show them. Start-up
// installs these; an unset hook does nothing. A page hook queues its call to
// the GUI thread and does nothing while its page does not exist.
#pragma once

#include <functional>

struct FileCommandHooks {
    // The FPGA manager's rcvRecovery: forget the listed scan-parameter files
    // ("/data/smartmapping") or receiving-card recovery packs
    // ("/data/rcvrecovery").
    std::function<void()> clear_scan_list;
    std::function<void()> clear_recovery_list;
    // SmartMapping::Button_back_clicked, Option::language_changed,
    // rcv_recovery::menulist_back_page, AdvancedOption::language_changed.
    std::function<void()> smartmapping_back;
    std::function<void()> option_language_changed;
    std::function<void()> recovery_menulist_back;
    std::function<void()> advanced_language_changed;
};
extern FileCommandHooks g_file_command_hooks;
