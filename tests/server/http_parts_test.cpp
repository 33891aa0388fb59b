// Parts of the HTTP front on their own, where the whole server cannot show a fault cheaply: a
// network thread whose handlers raise, and a session whose calls all find the server busy.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/RawHttp.h"
#include "host/wire/ServiceName.h"
#include "server/http/NetworkLoop.h"
#include "server/http/Session.h"
#include "server/service/RemoteService.h"

namespace server::edge {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

TEST(NetworkLoop, GoesOnRunningHoweverManyHandlersRaise) {
  net::io_context context;
  bool ranAfter = false;
  net::post(context, [] { throw std::runtime_error("first"); });
  net::post(context, [] { throw std::runtime_error("second"); });
  net::post(context, [&] { ranAfter = true; });
  std::vector<std::string> failures;
  RunNetworkLoop(context, [&](const std::string& what) { failures.push_back(what); });
  EXPECT_EQ(failures, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(ranAfter);
}

// A store never reached: the calls below are refused before the service runs them.
class NoStore : public Store {
 public:
  std::unique_ptr<StoreSession> OpenSession() override { throw std::logic_error("no store in this test"); }
};

// One session on a loopback connection, with a call gate that admits no call.
struct BusySession {
  HttpLimits limits = [] {
    HttpLimits l;
    l.maxRequestBytes = 4096;
    l.maxBytesInFlight = 6000;  // one body of 4000 bytes at a time
    return l;
  }();
  std::FILE* sink = std::tmpfile();
  CallLog log{sink};
  ThrottledNotes notes{log};
  ConnectionBudget budget{limits};
  CallGate calls{0, limits};
  CallWorkers workers{1, notes, [](const std::string&) {}};
  NoStore store;
  RemoteService service{store};
  LiveConfig live{LiveConfig::Values{}};
  ServerMetrics metrics;
  SpoolBudget spool{0};
  SessionHost host{limits, live, nullptr, nullptr, service, log, notes, budget, calls, workers, metrics, spool};
  LanePool lanes{1, notes, [](const std::string&) {}};
  net::io_context listening;
  tcp::acceptor acceptor{listening, {net::ip::make_address("127.0.0.1"), 0}};
  testsupport::RawConnection client{acceptor.local_endpoint().port()};
  std::shared_ptr<SessionBase> session;

  BusySession() {
    Admission admission{budget.Admit("127.0.0.1"), lanes.Take(), "127.0.0.1:1", "127.0.0.1"};
    net::io_context& lane = admission.seat.Context();
    tcp::socket socket(lane);
    acceptor.accept(socket);
    session = MakePlainSession(host, std::move(admission), std::move(socket));
    net::post(lane, [s = session] { s->Start(); });
  }
  ~BusySession() {
    session->Abandon();
    session.reset();
    lanes.Release();
    lanes.Join();
    std::fclose(sink);
  }
};

// A call answered 503 because every call slot is taken keeps its connection, and gives its body's
// share of the request budget back: were it kept, the next body on the connection would find the
// budget spent, and each such answer would shrink the budget for good.
TEST(HttpSession, BusyCallsGiveBackTheirBodyShare) {
  BusySession s;
  const std::string post = "POST " + std::string(host::wire::kServicePath) +
                           " HTTP/1.1\r\nHost: x\r\nContent-Length: 4000\r\n\r\n" + std::string(4000, ' ');
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(s.client.Send(post));
    const auto answer = s.client.ReadResponse(std::chrono::seconds(10));
    ASSERT_TRUE(answer) << "request " << i;
    EXPECT_EQ(testsupport::StatusOf(*answer), 503) << *answer;
    EXPECT_NE(answer->find("server busy; try again shortly"), std::string::npos) << *answer;
    EXPECT_NE(testsupport::HeaderOf(*answer, "Connection"), "close") << "request " << i << ": " << *answer;
  }
}

}  // namespace
}  // namespace server::edge
