// saverpack studio's HTTP server. One thread runs every connection; a connection reads one head
// at a time with its own parser, which keeps only the few fields the rules need, so a request
// costs at most kStudioMaxHead bytes of memory whatever its sender does.
#include <utility>  // first: Boost 1.74's Asio wants it included before it under C++20

#include "studio_server.h"

#include <array>
#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "file_io.h"

namespace saverpack {
namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;
using tcp = net::ip::tcp;

// A request's head, read under the studio's bounds. Only the request line, the Host and whether
// a Service-Worker header came are kept; every other field is counted and dropped.
class HeadParser final : public http::basic_parser<true> {
 public:
  HeadParser() {
    header_limit(static_cast<std::uint32_t>(kStudioMaxHead));
    body_limit(0);
  }

  StudioRequest request;
  int bound = 0;          // 413, 414 or 431 once the request passed a bound
  bool lineRead = false;  // the whole request line came within the head's bound

 private:
  void on_request_impl(http::verb, string_view method, string_view target, int, error_code& ec) override {
    lineRead = true;
    request.method.assign(method.data(), method.size());
    request.target.assign(target.data(), target.size());
    if (method.size() + target.size() > kStudioMaxRequestLine) Stop(414, ec);
  }
  void on_field_impl(http::field name, string_view nameText, string_view value, error_code& ec) override {
    if (++fields_ > kStudioMaxFields) return Stop(431, ec);
    if (name == http::field::host) {
      if (request.hosts++ == 0) request.host.assign(value.data(), value.size());
    } else if (boost::beast::iequals(nameText, "Service-Worker")) {
      request.serviceWorker = true;
    }
  }
  // The studio takes no bodies: the first sign of one ends the request.
  void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code& ec) override { Stop(413, ec); }
  std::size_t on_body_impl(string_view, error_code& ec) override { return Stop(413, ec), 0; }
  void on_chunk_header_impl(std::uint64_t, string_view, error_code& ec) override { Stop(413, ec); }
  std::size_t on_chunk_body_impl(std::uint64_t, string_view, error_code& ec) override { return Stop(413, ec), 0; }
  void on_header_impl(error_code&) override {}
  void on_finish_impl(error_code&) override {}
  void on_response_impl(int, string_view, int, error_code&) override {}

  void Stop(int status, error_code& ec) {
    bound = status;
    ec = http::error::header_limit;
  }

  std::size_t fields_ = 0;
};

// The bound a failed read passed, or 0 when it passed none.
int BoundPassed(const HeadParser& head, const error_code& ec) {
  if (head.bound) return head.bound;
  if (ec == http::error::header_limit || ec == http::error::buffer_overflow) return head.lineRead ? 431 : 414;
  if (ec == http::error::body_limit) return 413;
  return 0;
}

const char* BoundReason(int status) {
  switch (status) {
    case 413: return "the studio takes no request bodies";
    case 414: return "the request line is too long";
    default: return "the request's header fields are too large or too many";
  }
}

// A head the parser refused as malformed, not a connection that closed or timed out.
bool Malformed(const error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category() &&
         ec != http::error::end_of_stream && ec != http::error::partial_message;
}

// A file as a body, read and sent in pieces of 64 KiB: Beast's own file body reads 4 KiB at a
// time, one write each, which is slow where each write is costly (under Wine, 5.6 s for 100 MB).
struct PiecedFileBody {
  using value_type = http::file_body::value_type;  // the open file and its size

  static std::uint64_t size(const value_type& body) { return body.size(); }

  class writer {
   public:
    using const_buffers_type = net::const_buffer;

    template <bool isRequest, class Fields>
    writer(http::header<isRequest, Fields>&, value_type& body) : body_(body), remaining_(body.size()) {}

    void init(error_code& ec) { ec = {}; }

    boost::optional<std::pair<const_buffers_type, bool>> get(error_code& ec) {
      ec = {};
      const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, piece_.size()));
      if (wanted == 0) return boost::none;
      const std::size_t read = body_.file().read(piece_.data(), wanted, ec);
      if (ec) return boost::none;
      if (read == 0) {  // the file shrank while it was sent
        ec = http::error::short_read;
        return boost::none;
      }
      remaining_ -= read;
      return {{net::const_buffer(piece_.data(), read), remaining_ > 0}};
    }

   private:
    value_type& body_;
    std::uint64_t remaining_;
    std::array<char, 64 * 1024> piece_;
  };
};

template <class Body>
struct Outgoing {
  http::response<Body> message;
  std::optional<http::response_serializer<Body>> serializer;
};

// An answer with the headers every answer carries, refusals too; the policy is the answer's own.
template <class Body>
std::shared_ptr<Outgoing<Body>> NewAnswer(const StudioAnswer& answer, const std::string& type, bool keepAlive) {
  auto out = std::make_shared<Outgoing<Body>>();
  http::response<Body>& m = out->message;
  m.version(11);
  m.result(static_cast<unsigned>(answer.status));
  m.set(http::field::content_type, type);
  m.set("Content-Security-Policy", answer.policy);
  m.set("X-Content-Type-Options", "nosniff");
  m.set("Referrer-Policy", "no-referrer");
  m.set(http::field::cache_control, "no-store");
  m.keep_alive(keepAlive);
  return out;
}

class Session;

}  // namespace

struct StudioServer::State {
  // Declared before the context: connections its destruction still ends report to them.
  bool stopping = false;
  std::unordered_set<Session*> sessions;     // the open connections
  std::vector<tcp::acceptor*> paused;        // acceptors waiting for a connection to end
  std::size_t accepting = 0;                 // accepts under way
  const StudioSite* site = nullptr;
  std::chrono::seconds deadline{kStudioRequestSeconds};
  net::io_context io{1};
  net::signal_set signals{io};
  std::vector<tcp::acceptor> acceptors;

  ~State() { stopping = true; }

  void Accept(tcp::acceptor& acceptor);
  void Ended(Session* session);
  void Stop();
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, StudioServer::State& server) : stream_(std::move(socket)), server_(server) {
    server_.sessions.insert(this);
  }
  ~Session() { server_.Ended(this); }

  void ReadHead() {
    head_.emplace();
    stream_.expires_after(server_.deadline);
    http::async_read(stream_, buffer_, *head_,
                     [self = shared_from_this()](error_code ec, std::size_t) { self->OnHead(ec); });
  }
  void Close() { stream_.close(); }

 private:
  void OnHead(const error_code& ec) {
    const HeadParser& head = *head_;
    if (const int bound = BoundPassed(head, ec)) return Refuse(StudioAnswer{bound, {}, {}, BoundReason(bound)});
    if (ec && Malformed(ec)) return Refuse(StudioAnswer{400, {}, {}, "the request is malformed"});
    if (ec) return;  // closed by the other side, or idle past the deadline: the session ends
    const StudioAnswer answer = RouteStudioRequest(*server_.site, head.request);
    const bool headOnly = head.request.method == "HEAD";
    if (answer.status != 200) {
      Log(answer);
      return SendText(answer, head.keep_alive(), headOnly);
    }
    SendFile(answer, head.keep_alive(), headOnly);
  }

  // A refusal that ends the connection: what follows in it cannot be told from this request.
  void Refuse(const StudioAnswer& answer) {
    Log(answer);
    SendText(answer, false, head_->request.method == "HEAD");
  }

  void Log(const StudioAnswer& answer) const {
    const StudioRequest& request = head_->request;
    if (head_->lineRead) {
      std::cerr << StudioRefusalLine(request.method, request.target, answer) << std::endl;
      return;
    }
    // A request line too long to be read whole is shown by its beginning.
    const std::string_view received(static_cast<const char*>(buffer_.data().data()),
                                    std::min<std::size_t>(buffer_.size(), 201));
    std::cerr << StudioRefusalLine({}, received, answer) << std::endl;
  }

  // A refusal: its reason is its text.
  void SendText(const StudioAnswer& answer, bool keepAlive, bool headOnly) {
    const std::string type = "text/plain; charset=utf-8", text = answer.reason + "\n";
    if (headOnly) {
      auto out = NewAnswer<http::empty_body>(answer, type, keepAlive);
      out->message.content_length(text.size());
      return Send(out);
    }
    auto out = NewAnswer<http::string_body>(answer, type, keepAlive);
    out->message.body() = text;
    out->message.prepare_payload();
    Send(out);
  }

  void SendFile(const StudioAnswer& answer, bool keepAlive, bool headOnly) {
    http::file_body::value_type file;
    error_code ec;
#ifdef _WIN32
    const std::u8string name = answer.file.u8string();  // Beast reads the name as UTF-8 there
    file.open(reinterpret_cast<const char*>(name.c_str()), boost::beast::file_mode::scan, ec);
#else
    file.open(answer.file.c_str(), boost::beast::file_mode::scan, ec);
#endif
    if (ec) {
      const StudioAnswer missing{404, {}, {}, "the file cannot be read"};
      Log(missing);
      return SendText(missing, keepAlive, headOnly);
    }
    if (headOnly) {
      auto out = NewAnswer<http::empty_body>(answer, answer.contentType, keepAlive);
      out->message.content_length(file.size());
      return Send(out);
    }
    auto out = NewAnswer<PiecedFileBody>(answer, answer.contentType, keepAlive);
    out->message.body() = std::move(file);
    out->message.prepare_payload();
    Send(out);
  }

  // Writes the answer a piece at a time, each piece within the deadline, so that a reader that
  // stops reading is let go while a large file still goes out at the reader's pace.
  template <class Body>
  void Send(std::shared_ptr<Outgoing<Body>> out) {
    if (!out->serializer) out->serializer.emplace(out->message);
    stream_.expires_after(server_.deadline);
    http::async_write_some(stream_, *out->serializer, [self = shared_from_this(), out](error_code ec, std::size_t) {
      if (ec) return;
      if (!out->serializer->is_done()) return self->Send(out);
      if (out->message.keep_alive()) return self->ReadHead();
      self->Linger();
    });
  }

  // Closes the sending side and reads what the other side still sends, for a moment, before the
  // socket closes: closing with unread bytes would reset the connection and could take the
  // answer with it. What is read is dropped into the same small buffer.
  void Linger() {
    error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(2));
    buffer_.clear();
    Drain();
  }
  void Drain() {
    stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](error_code ec, std::size_t) {
      if (!ec) self->Drain();
    });
  }

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_{kStudioMaxHead};
  std::optional<HeadParser> head_;
  StudioServer::State& server_;
};

// A listening socket on the address, or the error that kept it from being one.
tcp::acceptor Listen(net::io_context& io, const tcp::endpoint& at, error_code& ec) {
  tcp::acceptor acceptor(io);
  acceptor.open(at.protocol(), ec);
  if (ec) return acceptor;
#ifdef _WIN32
  // Windows lets a second socket bind over one that merely allows reuse; this one allows none.
  acceptor.set_option(net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), ec);
#else
  // Lets a restarted studio take its port back from closing connections. There is no
  // SO_REUSEPORT: no second process can listen on the port beside this one.
  acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
  if (at.address().is_v6()) acceptor.set_option(net::ip::v6_only(true), ec);
  if (!ec) acceptor.bind(at, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  return acceptor;
}

}  // namespace

// A waiting accept holds a place too, so that the two addresses together never open more than
// kStudioMaxConnections.
void StudioServer::State::Accept(tcp::acceptor& acceptor) {
  if (sessions.size() + accepting >= static_cast<std::size_t>(kStudioMaxConnections)) {
    paused.push_back(&acceptor);  // the next connection waits in the system's queue
    return;
  }
  ++accepting;
  acceptor.async_accept([this, &acceptor](error_code ec, tcp::socket socket) {
    --accepting;
    if (stopping || ec == net::error::operation_aborted) return;
    if (!ec) std::make_shared<Session>(std::move(socket), *this)->ReadHead();
    Accept(acceptor);
  });
}

void StudioServer::State::Ended(Session* session) {
  sessions.erase(session);
  if (stopping || paused.empty()) return;
  tcp::acceptor* acceptor = paused.front();
  paused.erase(paused.begin());
  Accept(*acceptor);
}

void StudioServer::State::Stop() {
  stopping = true;
  error_code ignored;
  for (tcp::acceptor& acceptor : acceptors) acceptor.close(ignored);
  const std::vector<Session*> open(sessions.begin(), sessions.end());
  for (Session* session : open) session->Close();
}

StudioServer::StudioServer(int port, int requestSeconds) : state_(std::make_unique<State>()) {
  state_->deadline = std::chrono::seconds(requestSeconds);
  state_->signals.add(SIGINT);
  state_->signals.add(SIGTERM);
#ifdef SIGBREAK
  state_->signals.add(SIGBREAK);
#endif
  const std::string where = port ? "127.0.0.1:" + std::to_string(port) : "127.0.0.1";
  // A free port for 127.0.0.1 may be taken on [::1]: then another one, a few times.
  for (int attempt = 0; attempt < 20; ++attempt) {
    error_code ec;
    tcp::acceptor v4 = Listen(state_->io, {net::ip::address_v4::loopback(), static_cast<unsigned short>(port)}, ec);
    if (ec) throw ToolError("cannot listen on " + where + (port ? " (is it taken?)" : ""));
    const unsigned short chosen = v4.local_endpoint().port();
    tcp::acceptor v6 = Listen(state_->io, {net::ip::address_v6::loopback(), chosen}, ec);
    if (ec == net::error::address_in_use || ec == net::error::access_denied) {  // Windows: either
      if (port) throw ToolError("cannot listen on [::1]:" + std::to_string(port) + " (is it taken?)");
      continue;
    }
    state_->acceptors.push_back(std::move(v4));
    // Without an IPv6 loopback address no other program can listen there either.
    if (!ec) state_->acceptors.push_back(std::move(v6));
    return;
  }
  throw ToolError("cannot listen on 127.0.0.1 and [::1] at one free port");
}

StudioServer::~StudioServer() = default;

int StudioServer::Port() const { return state_->acceptors.front().local_endpoint().port(); }

void StudioServer::Serve(const StudioSite& site) {
  state_->site = &site;
  state_->signals.async_wait([this](error_code ec, int) {
    if (!ec) state_->Stop();
  });
  for (tcp::acceptor& acceptor : state_->acceptors) state_->Accept(acceptor);
  state_->io.run();
}

}  // namespace saverpack
