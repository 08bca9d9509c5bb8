#include "service/region_names.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tovik::service {

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

}  // namespace tovik::service
