#pragma once

// The whole public API of the Tovik location kit.

#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/info/tk_version.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/device.h"
#include "tovik/platform/location.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/nmea_replay_provider.h"
#include "tovik/platform/scripted_location_provider.h"
