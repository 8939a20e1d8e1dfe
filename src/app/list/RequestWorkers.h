#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/run/PaidRequest.h"
#include "registry/Registro.h"

namespace korvane {

// A request handed to the workers that none of them began: the run was stopping.
class RequestNotAsked : public Exception {
 public:
  RequestNotAsked() : Exception("Richiesta non inviata: la lista si \xC3\xA8 fermata") {}
};

// Registry requests asked in worker threads, each worker with a client of its own made by
// `newClient` at its first request, while the thread that hands them in does everything else
// (the archive, the ledger, the store). A request is asked once, in the order handed in.
class RequestWorkers {
 public:
  using ClientFactory = std::function<std::unique_ptr<registry::RegistryClient>()>;
  RequestWorkers(int count, ClientFactory newClient);
  // Cancel(), then waits for the requests under way (each bounded by the client's timeouts).
  ~RequestWorkers();
  RequestWorkers(const RequestWorkers&) = delete;
  RequestWorkers& operator=(const RequestWorkers&) = delete;

  // Asks `request` (recorded already) not before `notBefore`. The future is ready once it has
  // been asked: it raises the request's failure, or RequestNotAsked when it never began. The
  // request must outlive the future's readiness and is not to be touched before it.
  std::future<void> Ask(PaidRequest& request, std::chrono::steady_clock::time_point notBefore = {});
  // Requests not begun yet are not asked, and a wait for `notBefore` ends; those under way finish.
  void Cancel();

 private:
  struct Job {
    PaidRequest* request = nullptr;
    std::chrono::steady_clock::time_point notBefore;
    std::promise<void> done;
  };
  void Work();

  ClientFactory newClient_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool cancelled_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace korvane
