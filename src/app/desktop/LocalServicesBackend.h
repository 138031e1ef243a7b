#pragma once

#include "localservices/LocalService.h"
#include "localservices/LocalServiceScan.h"
#include "localservices/LocalServiceStop.h"
#include "localservices/LocalServicesViewState.h"

namespace kestrane::app {

using localservices::LocalService;
using localservices::LocalServiceScan;
using localservices::LocalServicesViewState;

// The blocking services operations, run by LocalServicesController on worker threads.
using LocalServicesBackend = localservices::LocalServiceOperations;

}  // namespace kestrane::app
