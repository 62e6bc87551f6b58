// A mail session as the user sees it, through the real DLL on a virtual display: the pointer the
// X server shows while a session waits on a slow server (over the error dialog for "E&mail
// Error", over the client's own window for TransmitMail), and the connection a session that
// gave up leaves open, ended by unloading the dialog. The mail server is a scripted peer on
// 127.0.0.1:25, the port the component always uses; the X side is pointer_probe.py.
//
//   mail_on_screen.exe <Quenvar.dll> <probe port>        exit 77: port 25 cannot be had

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <set>
#include <thread>

#include "ui_support.h"

using namespace client;

namespace {

// ---- the mail server ---------------------------------------------------------------------

// Answers each connection as planned: Slow greets only once told to and then accepts the mail;
// Refuse greets with a code no session waits for and notes when the other side hangs up.
class Peer {
 public:
  enum class Plan { Slow, Refuse };

  bool listen() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(25);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener_, 4) != 0) return false;
    thread_ = std::thread([this] { serve(); });
    return true;
  }
  ~Peer() {
    closesocket(listener_);
    if (thread_.joinable()) thread_.join();
  }
  void plan(Plan p) {
    std::lock_guard lock(mutex_);
    plans_.push_back(p);
  }
  // The next connection arrived (and, when Slow, waits for greet()).
  bool connected(int seconds) { return waitFor([this] { return connections_ > seen_; }, seconds) && (++seen_, true); }
  void greet() {
    std::lock_guard lock(mutex_);
    greet_ = true;
    changed_.notify_all();
  }
  bool hungUp() const { return hungUp_; }

 private:
  template <typename F>
  bool waitFor(F ready, int seconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), ready);
  }

  void serve() {
    for (;;) {
      const SOCKET conn = accept(listener_, nullptr, nullptr);
      if (conn == INVALID_SOCKET) return;
      Plan p = Plan::Slow;
      {
        std::lock_guard lock(mutex_);
        if (!plans_.empty()) p = plans_.front(), plans_.pop_front();
        greet_ = false;
        hungUp_ = false;
        ++connections_;
        changed_.notify_all();
      }
      if (p == Plan::Slow) {
        waitFor([this] { return greet_; }, 30);
        converse(conn);
      } else {
        send(conn, "554 not now\r\n");
        char buffer[512];
        while (recv(conn, buffer, sizeof buffer, 0) > 0) {
        }
        hungUp_ = true;
      }
      closesocket(conn);
    }
  }

  static void send(SOCKET conn, const std::string& text) { ::send(conn, text.data(), static_cast<int>(text.size()), 0); }

  static void converse(SOCKET conn) {
    send(conn, "220 peer ready\r\n");
    std::string pending;
    bool inData = false;
    char buffer[4096];
    for (int n; (n = recv(conn, buffer, sizeof buffer, 0)) > 0;) {
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        if (inData) {
          if (line == ".") send(conn, "250 queued\r\n"), inData = false;
        } else if (line.rfind("DATA", 0) == 0) {
          send(conn, "354 go ahead\r\n"), inData = true;
        } else if (line.rfind("QUIT", 0) == 0) {
          send(conn, "221 bye\r\n");
          return;
        } else {
          send(conn, "250 ok\r\n");
        }
      }
    }
  }

  SOCKET listener_ = INVALID_SOCKET;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Plan> plans_;
  int connections_ = 0, seen_ = 0;
  bool greet_ = false;
  std::atomic<bool> hungUp_{false};
};

// ---- the pointer as the X server shows it -------------------------------------------------

class Probe {
 public:
  explicit Probe(int port) {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = connect(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  }
  ~Probe() { closesocket(socket_); }
  bool ok() const { return ok_; }

  void move(POINT p) { ask("move " + std::to_string(p.x) + " " + std::to_string(p.y)); }
  std::string cursor() { return ask("cursor"); }
  // Whether the cursor shown becomes `want` within a few seconds (windows answer a move
  // when their thread next looks at its messages).
  bool becomes(const std::set<std::string>& want) {
    for (int i = 0; i < 60; ++i, Sleep(50))
      if (want.count(cursor())) return true;
    return false;
  }

 private:
  std::string ask(const std::string& line) {
    const std::string out = line + "\n";
    ::send(socket_, out.data(), static_cast<int>(out.size()), 0);
    std::string answer;
    char c;
    while (recv(socket_, &c, 1, 0) == 1 && c != '\n') answer += c;
    return answer;
  }
  SOCKET socket_;
  bool ok_ = false;
};

// Pumps this thread's messages for a while, so its windows answer the mouse.
void pumpFor(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  MSG m;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(10);
  }
}

POINT centreOf(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

POINT offset(POINT p, LONG d) { return {p.x + d, p.y + d}; }

HWND windowWithCursor(LPCSTR cursor, int x, int y) {
  static int n = 0;
  const std::wstring name = L"QuenvarPointerReference" + std::to_wstring(++n);
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorA(nullptr, cursor);
  cls.lpszClassName = name.c_str();
  RegisterClassW(&cls);
  return CreateWindowW(name.c_str(), name.c_str(), WS_POPUP | WS_VISIBLE | WS_BORDER, x, y, 120, 100, nullptr, nullptr,
                       cls.hInstance, nullptr);
}

// How each system cursor looks on this display, read off windows of this thread.
struct Looks {
  std::set<std::string> wait, beam, cross;
};

Looks looks(Probe& probe) {
  const std::pair<LPCSTR, std::set<std::string> Looks::*> kinds[] = {
      {IDC_WAIT, &Looks::wait}, {IDC_IBEAM, &Looks::beam}, {IDC_CROSS, &Looks::cross}};
  Looks out;
  int x = 880;
  for (auto [id, field] : kinds) {
    HWND w = windowWithCursor(id, x, 650);
    pumpFor(200);
    probe.move(centreOf(w));
    pumpFor(300);
    probe.move(offset(centreOf(w), 2));
    pumpFor(300);
    // The hourglass is animated: every frame of two seconds counts as the look.
    for (int i = 0; i < 40; ++i, pumpFor(50)) (out.*field).insert(probe.cursor());
    DestroyWindow(w);
    pumpFor(100);
    x -= 130;
  }
  return out;
}

void waitForBoxes(BoxWatcher& boxes, size_t count, int seconds) {
  for (int i = 0; i < seconds * 20 && boxes.seen().size() < count; ++i) Sleep(50);
  Sleep(300);  // answered and gone
}

struct Seen {
  bool paneBefore = false, busyDuring = false, paneAfter = false;
  bool openAfterGivingUp = false, endedByUnload = false;
  std::vector<std::wstring> boxes;
};

// Over the error dialog: "E&mail Error" against the slow peer, then against the refusing one.
void dialogUser(Probe& probe, Peer& peer, const Looks& look, Seen& seen) {
  HWND dialog = topWindow(L"Application Error");
  CHECK(dialog);
  if (!dialog) return;
  HWND pane = edits(dialog).empty() ? nullptr : edits(dialog)[0];
  HWND email = child(dialog, L"Button", L"E&mail Error"), close = child(dialog, L"Button", L"&Close");
  CHECK(pane && email && close);
  BoxWatcher boxes;
  const POINT over = centreOf(pane);
  probe.move(over);
  seen.paneBefore = probe.becomes(look.beam);

  peer.plan(Peer::Plan::Slow);
  pressLater(email);
  CHECK(peer.connected(20));
  probe.move(offset(over, 3));
  seen.busyDuring = probe.becomes(look.wait);
  peer.greet();
  waitForBoxes(boxes, 1, 20);
  probe.move(offset(over, 6));
  seen.paneAfter = probe.becomes(look.beam);

  // A session that gives up (after its 50 s wait) leaves the connection; unloading ends it.
  peer.plan(Peer::Plan::Refuse);
  pressLater(email);
  CHECK(peer.connected(20));
  waitForBoxes(boxes, 2, 70);
  Sleep(500);
  seen.openAfterGivingUp = !peer.hungUp();
  pressLater(close);
  CHECK(gone(dialog));
  for (int i = 0; i < 100 && !peer.hungUp(); ++i) Sleep(50);
  seen.endedByUnload = peer.hungUp();
  seen.boxes = boxes.seen();
}

}  // namespace

int main(int argc, char** argv) {
  Apartment apartment;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  if (argc < 3 || !registerServer(argv[1])) {
    fail(__FILE__, __LINE__, "usage: mail_on_screen <Quenvar.dll> <probe port>; the DLL must register");
    return finish("mail_on_screen");
  }
  Peer peer;
  if (!peer.listen()) {
    std::printf("127.0.0.1:25 cannot be had here: skipped\n");
    return 77;
  }
  Probe probe(std::atoi(argv[2]));
  CHECK(probe.ok());
  if (!probe.ok()) return finish("mail_on_screen");
  clearSettings();

  auto h = createHandler();
  if (!h) return finish("mail_on_screen");
  CHECK_EQ(h->put_EmailSettings(VARIANT_FALSE), S_OK);  // no settings dialog first
  Email_Type route = aeSMTP;
  CHECK_EQ(h->put_EmailType(&route), S_OK);
  const std::pair<HRESULT (STDMETHODCALLTYPE _clsErrHandler::*)(BSTR*), const wchar_t*> values[] = {
      {&_clsErrHandler::put_SMTPMailServer, L"127.0.0.1"}, {&_clsErrHandler::put_FromName, L"Order Desk"},
      {&_clsErrHandler::put_FromEmailAddress, L"orders@example.com"}, {&_clsErrHandler::put_ToName, L"Operations"},
      {&_clsErrHandler::put_EmailAddress, L"ops@example.com"}};
  for (auto [put, text] : values) {
    BSTR value = SysAllocString(text);
    CHECK_EQ((h.get()->*put)(&value), S_OK);
    SysFreeString(value);
  }
  VARIANT_BOOL yes = VARIANT_TRUE;
  CHECK_EQ(h->put_UseInterface(&yes), S_OK);
  CHECK_EQ(h->put_TraceExecution(VARIANT_FALSE), S_OK);

  const Looks look = looks(probe);
  // One still look each for the beam and the cross; none shared with another kind.
  CHECK_EQ(look.beam.size(), size_t{1});
  CHECK_EQ(look.cross.size(), size_t{1});
  std::set<std::string> all(look.wait);
  all.insert(look.beam.begin(), look.beam.end());
  all.insert(look.cross.begin(), look.cross.end());
  CHECK_EQ(all.size(), look.wait.size() + 2);

  Seen seen;
  {
    std::thread user([&] { dialogUser(probe, peer, look, seen); });
    Bstr description(L"Invoice total does not match its lines");
    LONG status = -1;
    CHECK_EQ(h->HandleError(description.get(), 1042, 37, nullptr, &status), S_OK);
    user.join();
  }
  CHECK(seen.paneBefore);
  CHECK(seen.busyDuring);  // the dialog's own pointer holds through a mouse move
  CHECK(seen.paneAfter);
  CHECK(seen.openAfterGivingUp);
  CHECK(seen.endedByUnload);
  CHECK_EQ(seen.boxes.size(), size_t{2});
  if (seen.boxes.size() == 2) {
    CHECK_EQ(seen.boxes[0], std::wstring(L"Operation Successful: Composed Error Email in SMTP."));
    CHECK(seen.boxes[1].rfind(L"SMTP Timeout: SMTP Service error, Improper response Code", 0) == 0);
  }

  // TransmitMail from the client's code: the screen-wide pointer, over the client's own window.
  HWND own = windowWithCursor(IDC_CROSS, 40, 40);
  CHECK(own);
  std::atomic<int> step{0};
  bool crossBefore = false, busyOverOwn = false, crossAfter = false;
  std::thread user([&] {
    BoxWatcher boxes;
    const POINT over = centreOf(own);
    probe.move(over);
    crossBefore = probe.becomes(look.cross);
    peer.plan(Peer::Plan::Slow);
    step = 1;  // the client may mail
    CHECK(peer.connected(20));
    probe.move(offset(over, 3));
    busyOverOwn = probe.becomes(look.wait);
    peer.greet();
    waitForBoxes(boxes, 1, 20);
    while (step < 2) Sleep(20);
    probe.move(offset(over, 6));
    crossAfter = probe.becomes(look.cross);
    step = 3;
  });
  while (step < 1) pumpFor(20);
  Bstr report(L"first report line\r\nlast report line");
  CHECK_EQ(h->TransmitMail(report.get()), S_OK);
  step = 2;
  while (step < 3) pumpFor(20);
  user.join();
  CHECK(crossBefore);
  CHECK(busyOverOwn);  // the screen-wide pointer holds over the client's windows too
  CHECK(crossAfter);

  DestroyWindow(own);
  h.reset();
  clearSettings();
  return finish("mail_on_screen");
}
