-- wrk script: nearby place search (GET nearbysearch, every place within 5 km, nearest
-- first, first page of 10) around 16 city centres, given in GCJ-02 inside China.
local requests = {}
local index = 0

local centres = {
  "116.403963,39.915119", "121.480539,31.235929", "117.206878,39.090867", "113.270793,23.135308",
  "114.064552,22.548456", "104.072227,30.663456", "114.311582,30.598467", "118.802422,32.064653",
  "120.161693,30.280059", "2.352200,48.856600", "4.835700,45.764000", "13.405000,52.520000",
  "-0.127800,51.507400", "-74.006000,40.712800", "139.691700,35.689500", "-87.629800,41.878100",
}

function init(args)
  for k, centre in ipairs(centres) do
    requests[k] = wrk.format("GET",
      "/location/scenario/v1/nearbysearch?access_key=bench&name=&location=" .. centre ..
      "&radius=5000&category=&orderby=distance&page_index=1&page_size=10")
  end
end

function request()
  index = index % #requests + 1
  return requests[index]
end

function response(status, headers, body)
  if status ~= 200 then
    io.stderr:write("unexpected status " .. status .. "\n")
  end
end
