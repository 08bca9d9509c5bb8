#include "server/region_names.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tovik::server {

namespace {

struct Country {
  std::string_view code;
  std::string_view name;
};

// ISO 3166-1 alpha-2, plus XK (Kosovo), which GeoNames uses. Sorted by code.
constexpr std::array kCountries{
    Country{"AD", "Andorra"}, Country{"AE", "United Arab Emirates"}, Country{"AF", "Afghanistan"},
    Country{"AG", "Antigua and Barbuda"}, Country{"AI", "Anguilla"}, Country{"AL", "Albania"},
    Country{"AM", "Armenia"}, Country{"AO", "Angola"}, Country{"AQ", "Antarctica"}, Country{"AR", "Argentina"},
    Country{"AS", "American Samoa"}, Country{"AT", "Austria"}, Country{"AU", "Australia"}, Country{"AW", "Aruba"},
    Country{"AX", "Åland Islands"}, Country{"AZ", "Azerbaijan"}, Country{"BA", "Bosnia and Herzegovina"},
    Country{"BB", "Barbados"}, Country{"BD", "Bangladesh"}, Country{"BE", "Belgium"}, Country{"BF", "Burkina Faso"},
    Country{"BG", "Bulgaria"}, Country{"BH", "Bahrain"}, Country{"BI", "Burundi"}, Country{"BJ", "Benin"},
    Country{"BL", "Saint Barthélemy"}, Country{"BM", "Bermuda"}, Country{"BN", "Brunei"}, Country{"BO", "Bolivia"},
    Country{"BQ", "Caribbean Netherlands"}, Country{"BR", "Brazil"}, Country{"BS", "Bahamas"}, Country{"BT", "Bhutan"},
    Country{"BV", "Bouvet Island"}, Country{"BW", "Botswana"}, Country{"BY", "Belarus"}, Country{"BZ", "Belize"},
    Country{"CA", "Canada"}, Country{"CC", "Cocos (Keeling) Islands"}, Country{"CD", "DR Congo"},
    Country{"CF", "Central African Republic"}, Country{"CG", "Republic of the Congo"}, Country{"CH", "Switzerland"},
    Country{"CI", "Côte d'Ivoire"}, Country{"CK", "Cook Islands"}, Country{"CL", "Chile"}, Country{"CM", "Cameroon"},
    Country{"CN", "China"}, Country{"CO", "Colombia"}, Country{"CR", "Costa Rica"}, Country{"CU", "Cuba"},
    Country{"CV", "Cabo Verde"}, Country{"CW", "Curaçao"}, Country{"CX", "Christmas Island"}, Country{"CY", "Cyprus"},
    Country{"CZ", "Czechia"}, Country{"DE", "Germany"}, Country{"DJ", "Djibouti"}, Country{"DK", "Denmark"},
    Country{"DM", "Dominica"}, Country{"DO", "Dominican Republic"}, Country{"DZ", "Algeria"}, Country{"EC", "Ecuador"},
    Country{"EE", "Estonia"}, Country{"EG", "Egypt"}, Country{"EH", "Western Sahara"}, Country{"ER", "Eritrea"},
    Country{"ES", "Spain"}, Country{"ET", "Ethiopia"}, Country{"FI", "Finland"}, Country{"FJ", "Fiji"},
    Country{"FK", "Falkland Islands"}, Country{"FM", "Micronesia"}, Country{"FO", "Faroe Islands"},
    Country{"FR", "France"}, Country{"GA", "Gabon"}, Country{"GB", "United Kingdom"}, Country{"GD", "Grenada"},
    Country{"GE", "Georgia"}, Country{"GF", "French Guiana"}, Country{"GG", "Guernsey"}, Country{"GH", "Ghana"},
    Country{"GI", "Gibraltar"}, Country{"GL", "Greenland"}, Country{"GM", "Gambia"}, Country{"GN", "Guinea"},
    Country{"GP", "Guadeloupe"}, Country{"GQ", "Equatorial Guinea"}, Country{"GR", "Greece"},
    Country{"GS", "South Georgia and the South Sandwich Islands"}, Country{"GT", "Guatemala"}, Country{"GU", "Guam"},
    Country{"GW", "Guinea-Bissau"}, Country{"GY", "Guyana"}, Country{"HK", "Hong Kong"},
    Country{"HM", "Heard Island and McDonald Islands"}, Country{"HN", "Honduras"}, Country{"HR", "Croatia"},
    Country{"HT", "Haiti"}, Country{"HU", "Hungary"}, Country{"ID", "Indonesia"}, Country{"IE", "Ireland"},
    Country{"IL", "Israel"}, Country{"IM", "Isle of Man"}, Country{"IN", "India"},
    Country{"IO", "British Indian Ocean Territory"}, Country{"IQ", "Iraq"}, Country{"IR", "Iran"},
    Country{"IS", "Iceland"}, Country{"IT", "Italy"}, Country{"JE", "Jersey"}, Country{"JM", "Jamaica"},
    Country{"JO", "Jordan"}, Country{"JP", "Japan"}, Country{"KE", "Kenya"}, Country{"KG", "Kyrgyzstan"},
    Country{"KH", "Cambodia"}, Country{"KI", "Kiribati"}, Country{"KM", "Comoros"},
    Country{"KN", "Saint Kitts and Nevis"}, Country{"KP", "North Korea"}, Country{"KR", "South Korea"},
    Country{"KW", "Kuwait"}, Country{"KY", "Cayman Islands"}, Country{"KZ", "Kazakhstan"}, Country{"LA", "Laos"},
    Country{"LB", "Lebanon"}, Country{"LC", "Saint Lucia"}, Country{"LI", "Liechtenstein"},
    Country{"LK", "Sri Lanka"}, Country{"LR", "Liberia"}, Country{"LS", "Lesotho"}, Country{"LT", "Lithuania"},
    Country{"LU", "Luxembourg"}, Country{"LV", "Latvia"}, Country{"LY", "Libya"}, Country{"MA", "Morocco"},
    Country{"MC", "Monaco"}, Country{"MD", "Moldova"}, Country{"ME", "Montenegro"}, Country{"MF", "Saint Martin"},
    Country{"MG", "Madagascar"}, Country{"MH", "Marshall Islands"}, Country{"MK", "North Macedonia"},
    Country{"ML", "Mali"}, Country{"MM", "Myanmar"}, Country{"MN", "Mongolia"}, Country{"MO", "Macao"},
    Country{"MP", "Northern Mariana Islands"}, Country{"MQ", "Martinique"}, Country{"MR", "Mauritania"},
    Country{"MS", "Montserrat"}, Country{"MT", "Malta"}, Country{"MU", "Mauritius"}, Country{"MV", "Maldives"},
    Country{"MW", "Malawi"}, Country{"MX", "Mexico"}, Country{"MY", "Malaysia"}, Country{"MZ", "Mozambique"},
    Country{"NA", "Namibia"}, Country{"NC", "New Caledonia"}, Country{"NE", "Niger"},
    Country{"NF", "Norfolk Island"}, Country{"NG", "Nigeria"}, Country{"NI", "Nicaragua"},
    Country{"NL", "Netherlands"}, Country{"NO", "Norway"}, Country{"NP", "Nepal"}, Country{"NR", "Nauru"},
    Country{"NU", "Niue"}, Country{"NZ", "New Zealand"}, Country{"OM", "Oman"}, Country{"PA", "Panama"},
    Country{"PE", "Peru"}, Country{"PF", "French Polynesia"}, Country{"PG", "Papua New Guinea"},
    Country{"PH", "Philippines"}, Country{"PK", "Pakistan"}, Country{"PL", "Poland"},
    Country{"PM", "Saint Pierre and Miquelon"}, Country{"PN", "Pitcairn Islands"}, Country{"PR", "Puerto Rico"},
    Country{"PS", "Palestine"}, Country{"PT", "Portugal"}, Country{"PW", "Palau"}, Country{"PY", "Paraguay"},
    Country{"QA", "Qatar"}, Country{"RE", "Réunion"}, Country{"RO", "Romania"}, Country{"RS", "Serbia"},
    Country{"RU", "Russia"}, Country{"RW", "Rwanda"}, Country{"SA", "Saudi Arabia"},
    Country{"SB", "Solomon Islands"}, Country{"SC", "Seychelles"}, Country{"SD", "Sudan"}, Country{"SE", "Sweden"},
    Country{"SG", "Singapore"}, Country{"SH", "Saint Helena, Ascension and Tristan da Cunha"},
    Country{"SI", "Slovenia"}, Country{"SJ", "Svalbard and Jan Mayen"}, Country{"SK", "Slovakia"},
    Country{"SL", "Sierra Leone"}, Country{"SM", "San Marino"}, Country{"SN", "Senegal"}, Country{"SO", "Somalia"},
    Country{"SR", "Suriname"}, Country{"SS", "South Sudan"}, Country{"ST", "São Tomé and Príncipe"},
    Country{"SV", "El Salvador"}, Country{"SX", "Sint Maarten"}, Country{"SY", "Syria"}, Country{"SZ", "Eswatini"},
    Country{"TC", "Turks and Caicos Islands"}, Country{"TD", "Chad"},
    Country{"TF", "French Southern and Antarctic Lands"}, Country{"TG", "Togo"}, Country{"TH", "Thailand"},
    Country{"TJ", "Tajikistan"}, Country{"TK", "Tokelau"}, Country{"TL", "Timor-Leste"},
    Country{"TM", "Turkmenistan"}, Country{"TN", "Tunisia"}, Country{"TO", "Tonga"}, Country{"TR", "Türkiye"},
    Country{"TT", "Trinidad and Tobago"}, Country{"TV", "Tuvalu"}, Country{"TW", "Taiwan"},
    Country{"TZ", "Tanzania"}, Country{"UA", "Ukraine"}, Country{"UG", "Uganda"},
    Country{"UM", "United States Minor Outlying Islands"}, Country{"US", "United States"},
    Country{"UY", "Uruguay"}, Country{"UZ", "Uzbekistan"}, Country{"VA", "Vatican City"},
    Country{"VC", "Saint Vincent and the Grenadines"}, Country{"VE", "Venezuela"},
    Country{"VG", "British Virgin Islands"}, Country{"VI", "United States Virgin Islands"},
    Country{"VN", "Vietnam"}, Country{"VU", "Vanuatu"}, Country{"WF", "Wallis and Futuna"}, Country{"WS", "Samoa"},
    Country{"XK", "Kosovo"}, Country{"YE", "Yemen"}, Country{"YT", "Mayotte"}, Country{"ZA", "South Africa"},
    Country{"ZM", "Zambia"}, Country{"ZW", "Zimbabwe"},
};

struct Numeric {
  std::string_view numeric;
  std::string_view code;
};

// ISO 3166-1 numeric codes, which Natural Earth's boundaries carry, to alpha-2. Sorted.
constexpr std::array kNumeric{
    Numeric{"004", "AF"}, Numeric{"008", "AL"}, Numeric{"010", "AQ"}, Numeric{"012", "DZ"}, Numeric{"016", "AS"},
    Numeric{"020", "AD"}, Numeric{"024", "AO"}, Numeric{"028", "AG"}, Numeric{"031", "AZ"}, Numeric{"032", "AR"},
    Numeric{"036", "AU"}, Numeric{"040", "AT"}, Numeric{"044", "BS"}, Numeric{"048", "BH"}, Numeric{"050", "BD"},
    Numeric{"051", "AM"}, Numeric{"052", "BB"}, Numeric{"056", "BE"}, Numeric{"060", "BM"}, Numeric{"064", "BT"},
    Numeric{"068", "BO"}, Numeric{"070", "BA"}, Numeric{"072", "BW"}, Numeric{"074", "BV"}, Numeric{"076", "BR"},
    Numeric{"084", "BZ"}, Numeric{"086", "IO"}, Numeric{"090", "SB"}, Numeric{"092", "VG"}, Numeric{"096", "BN"},
    Numeric{"100", "BG"}, Numeric{"104", "MM"}, Numeric{"108", "BI"}, Numeric{"112", "BY"}, Numeric{"116", "KH"},
    Numeric{"120", "CM"}, Numeric{"124", "CA"}, Numeric{"132", "CV"}, Numeric{"136", "KY"}, Numeric{"140", "CF"},
    Numeric{"144", "LK"}, Numeric{"148", "TD"}, Numeric{"152", "CL"}, Numeric{"156", "CN"}, Numeric{"158", "TW"},
    Numeric{"162", "CX"}, Numeric{"166", "CC"}, Numeric{"170", "CO"}, Numeric{"174", "KM"}, Numeric{"175", "YT"},
    Numeric{"178", "CG"}, Numeric{"180", "CD"}, Numeric{"184", "CK"}, Numeric{"188", "CR"}, Numeric{"191", "HR"},
    Numeric{"192", "CU"}, Numeric{"196", "CY"}, Numeric{"203", "CZ"}, Numeric{"204", "BJ"}, Numeric{"208", "DK"},
    Numeric{"212", "DM"}, Numeric{"214", "DO"}, Numeric{"218", "EC"}, Numeric{"222", "SV"}, Numeric{"226", "GQ"},
    Numeric{"231", "ET"}, Numeric{"232", "ER"}, Numeric{"233", "EE"}, Numeric{"234", "FO"}, Numeric{"238", "FK"},
    Numeric{"239", "GS"}, Numeric{"242", "FJ"}, Numeric{"246", "FI"}, Numeric{"248", "AX"}, Numeric{"250", "FR"},
    Numeric{"254", "GF"}, Numeric{"258", "PF"}, Numeric{"260", "TF"}, Numeric{"262", "DJ"}, Numeric{"266", "GA"},
    Numeric{"268", "GE"}, Numeric{"270", "GM"}, Numeric{"275", "PS"}, Numeric{"276", "DE"}, Numeric{"288", "GH"},
    Numeric{"292", "GI"}, Numeric{"296", "KI"}, Numeric{"300", "GR"}, Numeric{"304", "GL"}, Numeric{"308", "GD"},
    Numeric{"312", "GP"}, Numeric{"316", "GU"}, Numeric{"320", "GT"}, Numeric{"324", "GN"}, Numeric{"328", "GY"},
    Numeric{"332", "HT"}, Numeric{"334", "HM"}, Numeric{"336", "VA"}, Numeric{"340", "HN"}, Numeric{"344", "HK"},
    Numeric{"348", "HU"}, Numeric{"352", "IS"}, Numeric{"356", "IN"}, Numeric{"360", "ID"}, Numeric{"364", "IR"},
    Numeric{"368", "IQ"}, Numeric{"372", "IE"}, Numeric{"376", "IL"}, Numeric{"380", "IT"}, Numeric{"384", "CI"},
    Numeric{"388", "JM"}, Numeric{"392", "JP"}, Numeric{"398", "KZ"}, Numeric{"400", "JO"}, Numeric{"404", "KE"},
    Numeric{"408", "KP"}, Numeric{"410", "KR"}, Numeric{"414", "KW"}, Numeric{"417", "KG"}, Numeric{"418", "LA"},
    Numeric{"422", "LB"}, Numeric{"426", "LS"}, Numeric{"428", "LV"}, Numeric{"430", "LR"}, Numeric{"434", "LY"},
    Numeric{"438", "LI"}, Numeric{"440", "LT"}, Numeric{"442", "LU"}, Numeric{"446", "MO"}, Numeric{"450", "MG"},
    Numeric{"454", "MW"}, Numeric{"458", "MY"}, Numeric{"462", "MV"}, Numeric{"466", "ML"}, Numeric{"470", "MT"},
    Numeric{"474", "MQ"}, Numeric{"478", "MR"}, Numeric{"480", "MU"}, Numeric{"484", "MX"}, Numeric{"492", "MC"},
    Numeric{"496", "MN"}, Numeric{"498", "MD"}, Numeric{"499", "ME"}, Numeric{"500", "MS"}, Numeric{"504", "MA"},
    Numeric{"508", "MZ"}, Numeric{"512", "OM"}, Numeric{"516", "NA"}, Numeric{"520", "NR"}, Numeric{"524", "NP"},
    Numeric{"528", "NL"}, Numeric{"531", "CW"}, Numeric{"533", "AW"}, Numeric{"534", "SX"}, Numeric{"535", "BQ"},
    Numeric{"540", "NC"}, Numeric{"548", "VU"}, Numeric{"554", "NZ"}, Numeric{"558", "NI"}, Numeric{"562", "NE"},
    Numeric{"566", "NG"}, Numeric{"570", "NU"}, Numeric{"574", "NF"}, Numeric{"578", "NO"}, Numeric{"580", "MP"},
    Numeric{"581", "UM"}, Numeric{"583", "FM"}, Numeric{"584", "MH"}, Numeric{"585", "PW"}, Numeric{"586", "PK"},
    Numeric{"591", "PA"}, Numeric{"598", "PG"}, Numeric{"600", "PY"}, Numeric{"604", "PE"}, Numeric{"608", "PH"},
    Numeric{"612", "PN"}, Numeric{"616", "PL"}, Numeric{"620", "PT"}, Numeric{"624", "GW"}, Numeric{"626", "TL"},
    Numeric{"630", "PR"}, Numeric{"634", "QA"}, Numeric{"638", "RE"}, Numeric{"642", "RO"}, Numeric{"643", "RU"},
    Numeric{"646", "RW"}, Numeric{"652", "BL"}, Numeric{"654", "SH"}, Numeric{"659", "KN"}, Numeric{"660", "AI"},
    Numeric{"662", "LC"}, Numeric{"663", "MF"}, Numeric{"666", "PM"}, Numeric{"670", "VC"}, Numeric{"674", "SM"},
    Numeric{"678", "ST"}, Numeric{"682", "SA"}, Numeric{"686", "SN"}, Numeric{"688", "RS"}, Numeric{"690", "SC"},
    Numeric{"694", "SL"}, Numeric{"702", "SG"}, Numeric{"703", "SK"}, Numeric{"704", "VN"}, Numeric{"705", "SI"},
    Numeric{"706", "SO"}, Numeric{"710", "ZA"}, Numeric{"716", "ZW"}, Numeric{"724", "ES"}, Numeric{"728", "SS"},
    Numeric{"729", "SD"}, Numeric{"732", "EH"}, Numeric{"740", "SR"}, Numeric{"744", "SJ"}, Numeric{"748", "SZ"},
    Numeric{"752", "SE"}, Numeric{"756", "CH"}, Numeric{"760", "SY"}, Numeric{"762", "TJ"}, Numeric{"764", "TH"},
    Numeric{"768", "TG"}, Numeric{"772", "TK"}, Numeric{"776", "TO"}, Numeric{"780", "TT"}, Numeric{"784", "AE"},
    Numeric{"788", "TN"}, Numeric{"792", "TR"}, Numeric{"795", "TM"}, Numeric{"796", "TC"}, Numeric{"798", "TV"},
    Numeric{"800", "UG"}, Numeric{"804", "UA"}, Numeric{"807", "MK"}, Numeric{"818", "EG"}, Numeric{"826", "GB"},
    Numeric{"831", "GG"}, Numeric{"832", "JE"}, Numeric{"833", "IM"}, Numeric{"834", "TZ"}, Numeric{"840", "US"},
    Numeric{"850", "VI"}, Numeric{"854", "BF"}, Numeric{"858", "UY"}, Numeric{"860", "UZ"}, Numeric{"862", "VE"},
    Numeric{"876", "WF"}, Numeric{"882", "WS"}, Numeric{"887", "YE"}, Numeric{"894", "ZM"},
};

struct Unnumbered {
  std::string_view name;
  std::string_view code;
};

// Natural Earth units without a numeric code, by their name there, to the country whose
// alpha-2 code GeoNames gives the places inside. Disputed reefs and glaciers are left
// out: a point there has no country.
constexpr std::array kUnnumbered{
    Unnumbered{"Akrotiri", "GB"},          Unnumbered{"Baikonur", "KZ"},
    Unnumbered{"Clipperton I.", "FR"},     Unnumbered{"Coral Sea Is.", "AU"},
    Unnumbered{"Cyprus U.N. Buffer Zone", "CY"}, Unnumbered{"Dhekelia", "GB"},
    Unnumbered{"Indian Ocean Ter.", "AU"}, Unnumbered{"Kosovo", "XK"},
    Unnumbered{"N. Cyprus", "CY"},         Unnumbered{"Somaliland", "SO"},
    Unnumbered{"USNB Guantanamo Bay", "US"},
};

struct Province {
  std::string_view code;
  std::string_view english;
  std::string_view chinese;
};

// GeoNames first-level codes of China with the English name GeoNames gives each.
constexpr std::array kProvinces{
    Province{"CN.01", "Anhui", "安徽省"},
    Province{"CN.02", "Zhejiang", "浙江省"},
    Province{"CN.03", "Jiangxi", "江西省"},
    Province{"CN.04", "Jiangsu", "江苏省"},
    Province{"CN.05", "Jilin", "吉林省"},
    Province{"CN.06", "Qinghai", "青海省"},
    Province{"CN.07", "Fujian", "福建省"},
    Province{"CN.08", "Heilongjiang", "黑龙江省"},
    Province{"CN.09", "Henan", "河南省"},
    Province{"CN.10", "Hebei", "河北省"},
    Province{"CN.11", "Hunan", "湖南省"},
    Province{"CN.12", "Hubei", "湖北省"},
    Province{"CN.13", "Xinjiang", "新疆维吾尔自治区"},
    Province{"CN.14", "Tibet", "西藏自治区"},
    Province{"CN.15", "Gansu", "甘肃省"},
    Province{"CN.16", "Guangxi", "广西壮族自治区"},
    Province{"CN.18", "Guizhou", "贵州省"},
    Province{"CN.19", "Liaoning", "辽宁省"},
    Province{"CN.20", "Inner Mongolia", "内蒙古自治区"},
    Province{"CN.21", "Ningxia", "宁夏回族自治区"},
    Province{"CN.22", "Beijing", "北京市"},
    Province{"CN.23", "Shanghai", "上海市"},
    Province{"CN.24", "Shanxi", "山西省"},
    Province{"CN.25", "Shandong", "山东省"},
    Province{"CN.26", "Shaanxi", "陕西省"},
    Province{"CN.28", "Tianjin", "天津市"},
    Province{"CN.29", "Yunnan", "云南省"},
    Province{"CN.30", "Guangdong", "广东省"},
    Province{"CN.31", "Hainan", "海南省"},
    Province{"CN.32", "Sichuan", "四川省"},
    Province{"CN.33", "Chongqing", "重庆市"},
};

}  // namespace

std::optional<std::string_view> RegionNames::countryEnglishName(std::string_view isoCode) {
  const auto it = std::lower_bound(kCountries.begin(), kCountries.end(), isoCode,
                                   [](const Country& c, std::string_view code) { return c.code < code; });
  if (it == kCountries.end() || it->code != isoCode) {
    return std::nullopt;
  }
  return it->name;
}

std::optional<std::string_view> RegionNames::countryName(std::string_view isoCode) {
  if (isoCode == "CN") {
    return std::string_view("中国");
  }
  return countryEnglishName(isoCode);
}

std::optional<std::string_view> RegionNames::countryOfBoundary(std::string_view numeric, std::string_view name) {
  if (!numeric.empty()) {
    const auto it = std::lower_bound(kNumeric.begin(), kNumeric.end(), numeric,
                                     [](const Numeric& n, std::string_view code) { return n.numeric < code; });
    if (it != kNumeric.end() && it->numeric == numeric) {
      return it->code;
    }
    return std::nullopt;
  }
  for (const auto& unit : kUnnumbered) {
    if (unit.name == name) {
      return unit.code;
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> RegionNames::chineseProvinceName(std::string_view code, std::string_view englishName) {
  for (const auto& province : kProvinces) {
    if (province.code == code) {
      if (province.english == englishName) {
        return province.chinese;
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace tovik::server
