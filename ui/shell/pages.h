// The page globals of the front panel: one pointer per page (null while the
// page is closed), and the shared pop-ups.
#pragma once

#include <atomic>

#include "core/global.h"
#include "ui/shell/pagepattern.h"

class QLineEdit;
class NumberKeyboard;
class TIP;

class LockWindow;
class MainWindow;
class MachineState;
class InputChoose;
class CustomMode;
class Option;
class OutputSet;
class InputCut;
class EDIDset;
class ImageLayout;
class LinkOption;
class ImageQuality;
class AdvancedOption;
class ledset;
class netset;
class lcdshow;
class test_chart;
class othersetup;
class factory;
class quality;
class temperature;
class linkcom;
class linkwlan;
class factoryage;
class SmartMapping;
class rcv_recovery;
class firmware_usbgrade;

extern PagePointer<LockWindow, PageId::LockWindow> g_lockwindow;
extern PagePointer<MainWindow, PageId::MainWindow> g_mainwindow;
extern PagePointer<MachineState, PageId::MachineState> g_machinestate;
extern PagePointer<InputChoose, PageId::InputChoose> g_inputchoose;
extern PagePointer<CustomMode, PageId::CustomMode> g_custommode;
extern PagePointer<Option, PageId::Option> g_option;
extern PagePointer<OutputSet, PageId::OutputSet> g_outputset;
extern PagePointer<InputCut, PageId::InputCut> g_inputcut;
extern PagePointer<EDIDset, PageId::EDIDset> g_edidset;
extern PagePointer<ImageLayout, PageId::ImageLayout> g_imagelayout;
extern PagePointer<LinkOption, PageId::LinkOption> g_linkoption;
extern PagePointer<ImageQuality, PageId::ImageQuality> g_imagequality;
extern PagePointer<AdvancedOption, PageId::AdvancedOption> g_advancedoption;
extern PagePointer<ledset, PageId::ledset> g_ledset;
extern PagePointer<netset, PageId::netset> g_netset;
extern PagePointer<lcdshow, PageId::lcdshow> g_lcdshow;
extern PagePointer<test_chart, PageId::test_chart> g_test_chart;
extern PagePointer<othersetup, PageId::othersetup> g_othersetup;
extern PagePointer<factory, PageId::factory> g_factory;
extern PagePointer<quality, PageId::quality> g_quality;
extern PagePointer<temperature, PageId::temperature> g_temperature;
extern PagePointer<linkcom, PageId::linkcom> g_linkcom;
extern PagePointer<linkwlan, PageId::linkwlan> g_linkwlan;
extern PagePointer<factoryage, PageId::factoryage> g_factoryage;
extern PagePointer<SmartMapping, PageId::SmartMapping> g_smartmapping;
extern PagePointer<rcv_recovery, PageId::rcv_recovery> g_rcv_recovery;
extern PagePointer<firmware_usbgrade, PageId::firmware_usbgrade> g_firmware_usbgrade;

// The one number keypad and the line edit its result goes to.
extern NumberKeyboard* g_numberkeyboard;
extern QLineEdit* g_lineedit;
// The one tip pop-up and whether it is shown.
extern TIP* g_tip;
extern std::atomic<u8> g_tip_flag;
