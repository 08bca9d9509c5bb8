#pragma once

#include <string>
#include <string_view>

namespace tovik {

/// `url` as a log line may show it: the user information of the address ("user:password@")
/// and the value of every query item whose name ends in "key" (any letter case, e.g.
/// "access_key") become "***"; everything else stays as it was.
std::string loggedURL(std::string_view url);

}  // namespace tovik
