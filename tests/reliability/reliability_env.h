#pragma once

// The world of the reliability tests: facades with consent and a distinctive
// access key in a controlled world.

#include "location/location_test_env.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"

namespace tovik::test {

/// Distinctive, so that any text that leaks it is found.
inline constexpr const char* kAccessKey = "AK-5ecret-7f3c9e";

using ReliabilityTest = BasicLocationTest<KitWorld>;

}  // namespace tovik::test
