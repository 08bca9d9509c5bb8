#pragma once

/// @file tovik.h
/// @brief The whole public C++ API of the Tovik location kit (namespace `tovik`).
///
/// Start with `tovik::TkClientLocation` (the facade) and `tovik::LocationDelegate` (what the
/// application implements); results arrive as `tovik::LocationRes` and lists of
/// `tovik::GeocodeRes` on the main queue (`tovik::MainQueue`). C callers use tovik_c.h instead.

// The facade and its delegate.
#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"

// Results.
#include "tovik/model/address.h"
#include "tovik/model/address_context.h"
#include "tovik/model/address_info.h"
#include "tovik/model/decoding_error.h"
#include "tovik/model/distance_info.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_detail.h"
#include "tovik/model/location_res.h"
#include "tovik/model/place_info.h"
#include "tovik/model/position.h"
#include "tovik/model/tk_category.h"
#include "tovik/model/tk_point.h"

// Geofences on the device's own fixes.
#include "tovik/geofence/geofence.h"
#include "tovik/geofence/geofence_delegate.h"
#include "tovik/geofence/geofence_event.h"
#include "tovik/geofence/geofence_monitor.h"

// Utilities.
#include "tovik/coord/batch_path.h"
#include "tovik/coord/datum.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/info/tk_version.h"
#include "tovik/network/network_checker.h"

// The platform layer the host configures: main queue, location source, Info.plist keys.
#include "tovik/providers/authorization_status.h"
#include "tovik/providers/automatic_location_provider.h"
#include "tovik/system/bundle.h"
#include "tovik/system/device.h"
#include "tovik/system/error.h"
#include "tovik/system/tk_error.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"
#include "tovik/providers/location_provider.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/nmea_replay_provider.h"
#include "tovik/providers/scripted_location_provider.h"
