#pragma once

// Test support: a real HTTP server on 127.0.0.1 and a free port, on its own
// thread, that tests script with handlers. It never listens beyond the
// machine. Every request is recorded before its handler runs. An answer can
// be held back at a gate until the test opens it (the destructor opens it
// first, since stopping the server waits for its handlers). Every wait
// here ends at the tests' hang guard at the latest.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/test_hang_guard.hpp"

namespace platform {

class LoopbackServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;

    // The first value under the name (any case), or absent.
    std::optional<std::string> header(const std::string& name) const {
      auto found = headers.find(name);
      if (found == headers.end()) return std::nullopt;
      return found->second;
    }
  };

  LoopbackServer() {
    // One request per connection, so stopping never waits for an idle
    // keep-alive connection to time out.
    server_.set_keep_alive_max_count(1);
    // A client of a busy machine may go without a turn for a while: the
    // server waits for its request and its reading as long as a test waits
    // for anything.
    server_.set_keep_alive_timeout(kTestHangGuard.count());
    server_.set_read_timeout(kTestHangGuard);
    server_.set_write_timeout(kTestHangGuard);
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      unread_[&request] = requests_.size();
      requests_.push_back({request.method, request.path, request.headers, {}});
      arrived_.notify_all();
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // The body is read after routing begins; it is filled in once answered.
    server_.set_logger([this](const httplib::Request& request, const httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = unread_.find(&request);
      if (found == unread_.end()) return;
      requests_[found->second].body = request.body;
      unread_.erase(found);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("loopback server: no free port on 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + kTestHangGuard;
    while (!server_.is_running()) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("loopback server did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  ~LoopbackServer() { stop(); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& server() { return server_; }
  int port() const { return port_; }
  // "http://127.0.0.1:PORT/"
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  // Releases held answers, stops listening and waits for the server thread.
  // Afterwards the port refuses connections.
  void stop() {
    openGate();
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // Waits until `count` requests have arrived; false when the guard ran out.
  bool waitForRequests(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, kTestHangGuard, [&] { return requests_.size() >= count; });
  }

  // For handlers: holds the answer until openGate() (or the guard runs out).
  void waitAtGate() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait_for(lock, kTestHangGuard, [&] { return gateOpen_; });
  }
  void openGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = true;
    opened_.notify_all();
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable opened_;
  std::vector<Request> requests_;
  std::map<const httplib::Request*, std::size_t> unread_;
  bool gateOpen_ = false;
};

}  // namespace platform
