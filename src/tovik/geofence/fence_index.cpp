#include "tovik/geofence/fence_index.h"

#include <utility>

#include <boost/iterator/function_output_iterator.hpp>
// The tree finds its default strategies only through the whole library's header.
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

namespace tovik {
namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

// Longitude as x, latitude as y; the boxes never wrap (Geofence::problem refuses it).
using Point = bg::model::point<double, 2, bg::cs::cartesian>;
using Box = bg::model::box<Point>;
using Entry = std::pair<Box, std::uint32_t>;

Box boxOf(const FenceShape::Box& box) { return {Point(box.west, box.south), Point(box.east, box.north)}; }

}  // namespace

struct FenceIndex::Tree {
  bgi::rtree<Entry, bgi::rstar<16>> rtree;
};

FenceIndex::FenceIndex() : tree_(std::make_unique<Tree>()) {}

FenceIndex::~FenceIndex() = default;

void FenceIndex::insert(const FenceShape::Box& box, std::uint32_t slot) { tree_->rtree.insert({boxOf(box), slot}); }

void FenceIndex::remove(const FenceShape::Box& box, std::uint32_t slot) { tree_->rtree.remove({boxOf(box), slot}); }

void FenceIndex::clear() { tree_->rtree.clear(); }

bool FenceIndex::empty() const { return tree_->rtree.empty(); }

void FenceIndex::query(Coordinate point, std::vector<std::uint32_t>& slots) const {
  tree_->rtree.query(
      bgi::intersects(Point(point.longitude, point.latitude)),
      boost::iterators::make_function_output_iterator([&](const Entry& entry) { slots.push_back(entry.second); }));
}

}  // namespace tovik
