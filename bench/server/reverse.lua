-- wrk script: reverse geocoding as the kit sends it (POST track_points with a
-- ReverseGeoRequest body, GCJ-02 point), over 300 fixed points in populated regions.
local requests = {}
local index = 0

local regions = {
  {110.0, 122.0, 22.0, 40.0},  -- eastern China
  {0.0, 20.0, 42.0, 55.0},     -- western and central Europe
  {-90.0, -75.0, 33.0, 43.0},  -- eastern United States
}

function init(args)
  math.randomseed(20240601)
  for k = 1, 300 do
    local r = regions[(k % #regions) + 1]
    local lon = r[1] + math.random() * (r[2] - r[1])
    local lat = r[3] + math.random() * (r[4] - r[3])
    local body = string.format(
      '{"asset":"BENCH-DEVICE","id":"BENCH-%d","timestamp":1700000000000,' ..
      '"location":{"position":{"point":{"longitude":%.6f,"latitude":%.6f},"spatialReference":"gcj02"}}}',
      k, lon, lat)
    requests[k] = wrk.format("POST", "/location/hub/v1/track_points?access_key=bench&response_sprf=gcj02",
                             {["Content-Type"] = "application/json"}, body)
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
