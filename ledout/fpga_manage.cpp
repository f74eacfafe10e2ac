#include "ledout/fpga_manage.h"

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
