#pragma once

#include <string>

namespace tovik {

/// The two process-wide keys every request reads: written by `initKey` and `setPoiKey`,
/// never by assigning the facade's properties. Both start empty.
std::string moduleAccessKey();
void setModuleAccessKey(std::string key);
std::string modulePoiKey();
void setModulePoiKey(std::string key);

}  // namespace tovik
