// Entry points of the worker whose work is not built yet: brightness and
// on/off times, the card
// search, the card jobs and the USB upgrade. Each is called by the worker in its place in the pass
// and does nothing; its implementation replaces it here, in its own file.
#include "ledout/fpga_manage.h"

void fpga_manage::usb_upgrade_manage_deal() {}

void fpga_manage::usb_upgrade_deal() {}
