// What every program of this folder does, whatever its event loop: replays a recorded walk as
// the device's location source, runs a continuous session whose fixes go to the location
// service, and counts the results. Only the loop that carries the kit differs from one
// program to the next; the adapter in each file is the part to copy.
//
//   example_loop_<name> [track.nmea] [service-url]
//
// The service defaults to the build's address (tovik-service on 127.0.0.1:8600). A program
// exits with 0 only when the wanted results arrived through its own loop, on its thread, with
// the loop waking a bounded number of times for them (asleep in between, not polling).
#pragma once

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include <tovik/tovik.h>

namespace walk {

/// The results each program waits for, and the longest it waits for them.
constexpr int kWantedResults = 4;
constexpr int kGiveUpSeconds = 30;
/// A loop that sleeps between the kit's events wakes a handful of times per result (the fix,
/// the session's timer, the service's answer); one that polls wakes hundreds of times.
constexpr int kMostWakesPerResult = 25;

class Session : public tovik::LocationDelegate {
 public:
  /// Starts the session; `finished` is called (on the main queue) once the wanted results, or
  /// an error, have arrived: the program then leaves its loop.
  static std::shared_ptr<Session> start(int argc, char** argv, std::function<void()> finished) {
    auto session = std::make_shared<Session>();
    session->finished_ = std::move(finished);
    const std::string track = argc > 1 ? argv[1] : "data/beijing_walk.nmea";
    // The walk, four times as fast as it was walked: a fix every quarter of a second.
    tovik::LocationServices::setProvider(std::make_shared<tovik::NmeaReplayProvider>(track, 4.0));
    tovik::Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Shows where you are"));
    session->client_ = tovik::TkClientLocation::create(session);
    session->client_->setAgreePrivacy(true);
    session->client_->initKey("demo");
    if (argc > 2) {
      session->client_->serviceURL = argv[2];
    }
    session->client_->isLocateOnce = false;
    session->client_->interval = 0.25;
    session->client_->startLocation();
    return session;
  }

  /// Called by the loop each time it hands control to the kit.
  void noteWake() { ++wakes_; }

  /// Ends the session and says how it went: the program's exit status.
  int finish() {
    client_->stopLocation();
    client_->callDelegate.reset();  // the facade held this delegate
    client_.reset();
    std::cout << "results: " << received_ << ", loop woke " << wakes_ << " times\n";
    if (received_ < kWantedResults || failed_ || offThread_) {
      std::cerr << "expected " << kWantedResults << " results on the loop's thread, without errors\n";
      return 1;
    }
    if (wakes_ > kMostWakesPerResult * received_) {
      std::cerr << "the loop woke too often: it polls instead of sleeping\n";
      return 1;
    }
    return 0;
  }

  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>& result) override {
    const auto& point = *result->location->position->point;
    offThread_ = offThread_ || !tovik::MainQueue::shared().isMainThread();
    std::printf("result %d: %.6f, %.6f\n", ++received_, point.latitude, point.longitude);
    if (received_ == kWantedResults) {
      settle();
    }
  }

  void onLocationErrorWithMsg(const std::string& msg) override {
    std::cerr << "error: " << msg << '\n';
    failed_ = true;
    settle();
  }

 private:
  void settle() {
    if (finished_) {
      std::exchange(finished_, nullptr)();
    }
  }


  std::shared_ptr<tovik::TkClientLocation> client_;
  std::function<void()> finished_;
  int received_ = 0;
  int wakes_ = 0;
  bool failed_ = false;
  bool offThread_ = false;
};

}  // namespace walk
