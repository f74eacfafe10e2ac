#include "ui/shell/pages.h"

PagePointer<LockWindow, PageId::LockWindow> g_lockwindow;
PagePointer<MainWindow, PageId::MainWindow> g_mainwindow;
PagePointer<MachineState, PageId::MachineState> g_machinestate;
PagePointer<InputChoose, PageId::InputChoose> g_inputchoose;
PagePointer<CustomMode, PageId::CustomMode> g_custommode;
PagePointer<Option, PageId::Option> g_option;
PagePointer<OutputSet, PageId::OutputSet> g_outputset;
PagePointer<InputCut, PageId::InputCut> g_inputcut;
PagePointer<EDIDset, PageId::EDIDset> g_edidset;
PagePointer<ImageLayout, PageId::ImageLayout> g_imagelayout;
PagePointer<LinkOption, PageId::LinkOption> g_linkoption;
PagePointer<ImageQuality, PageId::ImageQuality> g_imagequality;
PagePointer<AdvancedOption, PageId::AdvancedOption> g_advancedoption;
PagePointer<ledset, PageId::ledset> g_ledset;
PagePointer<netset, PageId::netset> g_netset;
PagePointer<lcdshow, PageId::lcdshow> g_lcdshow;
PagePointer<test_chart, PageId::test_chart> g_test_chart;
PagePointer<othersetup, PageId::othersetup> g_othersetup;
PagePointer<factory, PageId::factory> g_factory;
PagePointer<quality, PageId::quality> g_quality;
PagePointer<temperature, PageId::temperature> g_temperature;
PagePointer<linkcom, PageId::linkcom> g_linkcom;
PagePointer<linkwlan, PageId::linkwlan> g_linkwlan;
PagePointer<factoryage, PageId::factoryage> g_factoryage;
PagePointer<SmartMapping, PageId::SmartMapping> g_smartmapping;
PagePointer<rcv_recovery, PageId::rcv_recovery> g_rcv_recovery;
PagePointer<firmware_usbgrade, PageId::firmware_usbgrade> g_firmware_usbgrade;

NumberKeyboard* g_numberkeyboard = nullptr;
QLineEdit* g_lineedit = nullptr;
TIP* g_tip = nullptr;
std::atomic<u8> g_tip_flag{0};
