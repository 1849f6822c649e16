// The library's global objects. They live in one translation unit so that they
// are constructed at load in this order and destroyed at unload in reverse.
// None of the constructors does I/O.
#include "smbios/cZelSmBiosLinuxProvider.h"
#include "trace/tConsoleTraceDestination.h"
#include "trace/tTrace.h"

namespace nZELSMBUS000 {

nZELOSAL000::tConsoleTraceDestination nZELOSAL000::gConsoleTraceDestination;
nZELOSAL000::tTrace nZELOSAL000::gTrace(&nZELOSAL000::gConsoleTraceDestination);
nZELSMBIOS_1_1::cZelSmBiosLinuxProvider nZELSMBIOS_1_1::gSmBiosProvider;

}  // namespace nZELSMBUS000
