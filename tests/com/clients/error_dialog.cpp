// The error dialog and the e-mail settings dialog as a user meets them: a client handles an error
// with UseInterface set, and a second thread plays the user on the real windows (placements in
// pixels, captions, states, the clipboard, the section buttons, resizing, the settings dialog and
// its messages, the keys it writes). Needs a display: runs under Xvfb in a prefix of its own.
//
//   error_dialog.exe <Quenvar.dll> <folder for screenshots>

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "ui_support.h"

using namespace client;

namespace {

struct Pixels {
  LONG left, top, width, height;
  bool operator==(const Pixels&) const = default;
};
std::string show(const Pixels& p) {
  return std::to_string(p.left) + "," + std::to_string(p.top) + " " + std::to_string(p.width) + "x" +
         std::to_string(p.height);
}

// A control's place in the client area of the window it belongs to.
Pixels placement(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int dpi() {
  HDC screen = GetDC(nullptr);
  const int d = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return d;
}

LONG px(LONG twips) { return static_cast<LONG>(std::lround(twips * dpi() / 1440.0)); }

// Edges convert independently, so a width may differ from the converted width by one pixel.
bool closeTo(const Pixels& got, LONG left, LONG top, LONG width, LONG height) {
  auto close = [](LONG a, LONG b) { return std::abs(a - b) <= 1; };
  return close(got.left, px(left)) && close(got.top, px(top)) && close(got.width, px(width)) &&
         close(got.height, px(height));
}
void checkAt(HWND control, LONG l, LONG t, LONG w, LONG h, const char* name, int line) {
  if (control && closeTo(placement(control), l, t, w, h)) return;
  fail(__FILE__, line,
       std::string(name) + " at " + (control ? show(placement(control)) : std::string("(missing)")) + ", want twips " +
           std::to_string(l) + "," + std::to_string(t) + " " + std::to_string(w) + "x" + std::to_string(h));
}
#define CHECK_AT(control, l, t, w, h) checkAt(control, l, t, w, h, #control, __LINE__)

std::wstring clipboardText() {
  std::wstring text = L"<unreadable>";
  for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i) Sleep(20);
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

void setClipboardText(const std::wstring& text) {
  for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i) Sleep(20);
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

// The window as it is on screen, as a 24-bit BMP.
void screenshot(HWND window, const std::string& path) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u, size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                        sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  CHECK(out.good());
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// ---- the client --------------------------------------------------------------------------

class AfterSink : public Dispatch {
 public:
  std::string heard;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    heard += id == 1 ? 'B' : id == 2 ? 'A' : '?';
    return S_OK;
  }

 protected:
  bool answers(REFIID iid) override { return iid == DIID___clsErrHandler; }
};

struct Seen {
  std::wstring banner, heading, paneFirst, paneSystem, paneAfterTyping, clipboardFirst, clipboardAfterSettings;
  std::wstring headingApp, paneApp, headingBack, paneBack;
  std::vector<std::wstring> mailBoxes;
  std::wstring flagAfterCancel;
  bool traceEnabled = true, databaseVisible = true, settingsVisible = false, appVisible = false;
  bool settingsOnDefault = false, settingsBoxesDisabled = false;
  bool ownerTakesNoInput = false;
};

// The user of the error dialog. Checks placements at once; texts go back to the client, which
// knows the report.
void errorDialogUser(Seen& seen, const std::string& shots, BoxWatcher& boxes) {
  HWND dialog = topWindow(L"Application Error");
  CHECK(dialog);
  if (!dialog) return;
  RECT client;
  GetClientRect(dialog, &client);
  CHECK(std::abs(client.right - px(9825)) <= 1 && std::abs(client.bottom - px(6915)) <= 1);

  HWND banner = nullptr, heading = nullptr;
  for (HWND w : descendants(dialog)) {
    const std::wstring text = textOf(w);
    if (wcsncmp(text.c_str(), L"Error Number: ", 14) == 0) banner = w;
    if (lstrcmpiW(classOf(w).c_str(), L"Static") == 0 && wcsstr(text.c_str(), L"Information")) heading = w;
  }
  HWND pane = edits(dialog).empty() ? nullptr : edits(dialog)[0];
  HWND errorInfo = child(dialog, L"Button", L"&Error Info."), appInfo = child(dialog, L"Button", L"&App Info."),
       systemInfo = child(dialog, L"Button", L"&System Info."),
       databaseInfo = child(dialog, L"Button", L"&Database Info.");
  HWND errorLog = child(dialog, L"Button", L"Error &Log"), traceLog = child(dialog, L"Button", L"&Trace Log"),
       settings = child(dialog, L"Button", L"Email Settin&gs"), email = child(dialog, L"Button", L"E&mail Error"),
       close = child(dialog, L"Button", L"&Close");
  CHECK(banner && heading && pane && databaseInfo);
  if (banner) seen.banner = textOf(banner);
  if (heading) seen.heading = textOf(heading);
  if (pane) seen.paneFirst = longTextOf(pane);
  seen.traceEnabled = traceLog && IsWindowEnabled(traceLog);
  seen.databaseVisible = databaseInfo && IsWindowVisible(databaseInfo);
  seen.settingsVisible = settings && IsWindowVisible(settings);
  seen.appVisible = appInfo && IsWindowVisible(appInfo);
  seen.clipboardFirst = clipboardText();
  seen.ownerTakesNoInput = !IsWindowEnabled(FindWindowW(L"QuenvarClientWindow", nullptr));

  // The design layout after the first resize step.
  CHECK_AT(banner, 50, 50, 9775, 420);
  CHECK_AT(pane, 2100, 950, 7725, 5315);
  CHECK_AT(errorInfo, 50, 470, 1995, 360);
  CHECK_AT(appInfo, 50, 470 + 360, 1995, 360);
  CHECK_AT(systemInfo, 50, 470 + 720, 1995, 360);
  CHECK_AT(databaseInfo, 50, 470 + 1080, 1995, 360);
  CHECK_AT(heading, 2100 + 15, 470 + 15, 7605, 465);
  CHECK_AT(errorLog, 50, 6495, 1140, 360);
  CHECK_AT(traceLog, 1190, 6495, 1140, 360);
  CHECK_AT(settings, 6405, 6495, 1140, 360);
  CHECK_AT(email, 7545, 6495, 1140, 360);
  CHECK_AT(close, 8685, 6495, 1140, 360);
  screenshot(dialog, shots + "\\error-dialog.bmp");

  // Each section in turn, then keys and clipboard actions that must not change the pane.
  press(appInfo);
  if (heading) seen.headingApp = textOf(heading);
  if (pane) seen.paneApp = longTextOf(pane);
  press(errorInfo);
  if (heading) seen.headingBack = textOf(heading);
  if (pane) seen.paneBack = longTextOf(pane);
  press(systemInfo);
  if (heading) CHECK(textOf(heading) == L"System Information");
  if (pane) seen.paneSystem = longTextOf(pane);
  if (pane) {
    SetFocus(pane);
    PostMessageW(pane, WM_KEYDOWN, VK_DELETE, 0);
    PostMessageW(pane, WM_CHAR, L'x', 0);
    PostMessageW(pane, WM_KEYDOWN, VK_BACK, 0);
    PostMessageW(pane, WM_CHAR, 8, 0);
    SendMessageW(pane, WM_PASTE, 0, 0);
    SendMessageW(pane, WM_CUT, 0, 0);
    Sleep(200);
    seen.paneAfterTyping = longTextOf(pane);
  }

  // Wider and taller by a whole number of twips-worth pixels: the right-hand buttons follow the
  // right border, the row follows the bottom, the column and the left buttons stay.
  RECT frame;
  GetWindowRect(dialog, &frame);
  const LONG dx = px(1500), dy = px(900);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + dx, frame.bottom - frame.top + dy,
               SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(dialog, &client);
  const LONG w = MulDiv(client.right, 1440, dpi()), h = MulDiv(client.bottom, 1440, dpi());
  CHECK_AT(banner, 50, 50, w - 50, 420);
  CHECK_AT(pane, 2100, 950, w - 2100, h - 1600);
  CHECK_AT(errorInfo, 50, 470, 1995, 360);
  CHECK_AT(errorLog, 50, h - 420, 1140, 360);
  CHECK_AT(close, w - 1140, h - 420, 1140, 360);
  CHECK_AT(settings, w - 3420, h - 420, 1140, 360);
  screenshot(dialog, shots + "\\error-dialog-resized.bmp");

  // Minimized and restored: everything back where it stood.
  const Pixels before = close ? placement(close) : Pixels{};
  ShowWindow(dialog, SW_MINIMIZE);
  ShowWindow(dialog, SW_RESTORE);
  if (close) CHECK_EQ(placement(close), before);

  // The settings dialog over it; on return the report is copied again.
  setClipboardText(L"copied by the user meanwhile");
  pressLater(settings);
  HWND emailWindow = topWindow(L"Email");
  CHECK(emailWindow);
  if (emailWindow) {
    CHECK(!IsWindowEnabled(dialog));
    HWND def = child(emailWindow, L"Button", L"De&fault");
    seen.settingsOnDefault = def && SendMessageW(def, BM_GETCHECK, 0, 0) == BST_CHECKED;
    seen.settingsBoxesDisabled = true;
    for (HWND box : edits(emailWindow)) seen.settingsBoxesDisabled &= !IsWindowEnabled(box);
    screenshot(emailWindow, shots + "\\email-settings.bmp");
    press(child(emailWindow, L"Button", L"Cancel"));
    CHECK(gone(emailWindow));
    seen.flagAfterCancel = setting(L"EmailFlag");
  }
  // Closing a window takes Wine a moment without a window manager, and a loaded machine longer:
  // wait for the copy.
  for (int i = 0; i < 750 && clipboardText() == L"copied by the user meanwhile"; ++i) Sleep(20);
  seen.clipboardAfterSettings = clipboardText();
  CHECK(IsWindowEnabled(dialog));

  // "E&mail Error": the settings dialog confirms the route first; this prefix has no Outlook,
  // so the route reports its failure.
  pressLater(email);
  emailWindow = topWindow(L"Email");
  CHECK(emailWindow);
  if (emailWindow) {
    press(child(emailWindow, L"Button", L"&Outlook"));
    press(child(emailWindow, L"Button", L"Ok"));
    CHECK(gone(emailWindow));
  }
  for (int i = 0; i < 250 && boxes.seen().empty(); ++i) Sleep(20);
  seen.mailBoxes = boxes.seen();

  press(close);
  CHECK(gone(dialog));
}

// The user of the settings dialog opened by ChangeEmailSettings: both validation messages, then
// an accepted SMTP route; `tick` ticks "Do not show this screen".
void smtpSettingsUser(BoxWatcher& boxes, std::vector<std::wstring>& shownTexts) {
  HWND window = topWindow(L"Email");
  CHECK(window);
  if (!window) return;
  std::vector<HWND> boxesOnWindow = edits(window);
  CHECK_EQ(boxesOnWindow.size(), 3u);
  if (boxesOnWindow.size() != 3) return;
  // Only the SMTP route uses the boxes; the options are one group.
  const wchar_t* options[] = {L"&Outlook", L"De&fault", L"&SMTP"};
  for (const wchar_t* option : options) {
    press(child(window, L"Button", option));
    for (const wchar_t* other : options) {
      HWND button = child(window, L"Button", other);
      CHECK(button && (SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) == (other == option));
    }
    for (HWND box : boxesOnWindow) CHECK_EQ(IsWindowEnabled(box) != FALSE, option == options[2]);
  }
  HWND ok = child(window, L"Button", L"Ok");
  press(ok);  // no server
  SetWindowTextW(boxesOnWindow[0], L"mail.example.com");
  SetWindowTextW(boxesOnWindow[1], L"Order Desk");
  press(ok);  // no sender address
  SetWindowTextW(boxesOnWindow[2], L"orders@example.com");
  press(child(window, L"Button", L"&Do not show this screen"));
  press(ok);
  CHECK(gone(window));
  shownTexts = boxes.seen();
}

// Opened again: the dialog shows what was accepted; closed by its close box.
void reopenedSettingsUser(std::vector<std::wstring>& shown) {
  HWND window = topWindow(L"Email");
  CHECK(window);
  if (!window) return;
  HWND smtp = child(window, L"Button", L"&SMTP");
  CHECK(smtp && SendMessageW(smtp, BM_GETCHECK, 0, 0) == BST_CHECKED);
  for (HWND box : edits(window)) shown.push_back(textOf(box));
  PostMessageW(window, WM_CLOSE, 0, 0);
  CHECK(gone(window));
}

}  // namespace

int main(int argc, char** argv) {
  Apartment apartment;
  if (argc < 3 || !registerServer(argv[1])) {
    fail(__FILE__, __LINE__, "usage: error_dialog <Quenvar.dll> <screenshot folder>; the DLL must register");
    return finish("error_dialog");
  }
  const std::string shots = argv[2];
  clearSettings();

  // The client's own window, which must take no input while the dialog is up.
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"QuenvarClientWindow";
  RegisterClassW(&cls);
  HWND own = CreateWindowW(L"QuenvarClientWindow", L"Orders", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                           nullptr, nullptr, cls.hInstance, nullptr);
  CHECK(own);

  // The report shows the current folder; the screenshots should show the application's, not the
  // build machine's.
  CreateDirectoryW(L"C:\\Program Files\\Orders", nullptr);
  CHECK(SetCurrentDirectoryW(L"C:\\Program Files\\Orders"));

  auto h = createHandler();
  if (!h) return finish("error_dialog");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = temp + std::wstring(L"quenvar-dialog-") + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  Bstr destination(folder.c_str());
  CHECK_EQ(h->put_Destination(destination.get()), S_OK);
  CHECK_EQ(h->put_EmailSettings(VARIANT_TRUE), S_OK);
  Email_Type route = aeDefault;
  CHECK_EQ(h->put_EmailType(&route), S_OK);
  VARIANT_BOOL yes = VARIANT_TRUE;
  CHECK_EQ(h->put_UseInterface(&yes), S_OK);
  CHECK_EQ(h->put_ShowAppInfo(VARIANT_TRUE), S_OK);
  CHECK_EQ(h->put_ShowSysInfo(VARIANT_TRUE), S_OK);
  CHECK_EQ(h->put_ShowDBInfo(VARIANT_FALSE), S_OK);
  CHECK_EQ(h->put_TraceExecution(VARIANT_FALSE), S_OK);
  Bag app({{L"Major", 2}, {L"Minor", 4}, {L"Revision", 17}, {L"LogMode", 0}},
          {{L"Title", L"Orders"}, {L"EXEName", L"orders"}, {L"Path", L"C:\\Program Files\\Orders"},
           {L"CompanyName", L"Example Trading"}, {L"ProductName", L"Orders"}, {L"FileDescription", L"Order desk"},
           {L"Comments", L""}, {L"LegalCopyright", L"(c) Example Trading"}, {L"HelpFile", L""},
           {L"LegalTrademarks", L""}, {L"LogPath", L""}});
  CHECK_EQ(h->put_AppObject(&app), S_OK);
  LONG status = -1;
  BSTR procedure = SysAllocString(L"frmOrders.cmdPost_Click");
  CHECK_EQ(h->Push(&procedure, &status), S_OK);
  SysFreeString(procedure);

  AfterSink sink;
  Ptr<IConnectionPointContainer> container = h.as<IConnectionPointContainer>(IID_IConnectionPointContainer);
  Ptr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (container) container->FindConnectionPoint(DIID___clsErrHandler, point.put());
  if (point) CHECK_EQ(point->Advise(&sink, &cookie), S_OK);

  Seen seen;
  {
    BoxWatcher boxes;
    std::thread user([&] { errorDialogUser(seen, shots, boxes); });
    Bstr description(L"Invoice total does not match its lines");
    status = -1;
    CHECK_EQ(h->HandleError(description.get(), 1042, 37, nullptr, &status), S_OK);
    user.join();
  }
  CHECK_EQ(status, 0L);
  CHECK_EQ(sink.heard, std::string("BA"));

  Bstr errorLog, appLog, sysLog;
  h->get_ErrorLogDisplay(errorLog.put());
  h->get_AppLogDisplay(appLog.put());
  h->get_SysLogDisplay(sysLog.put());
  const std::wstring report = errorLog.str() + L"\r\n\r\n" + appLog.str() + L"\r\n\r\n" + sysLog.str();
  CHECK(!errorLog.str().empty() && !appLog.str().empty() && !sysLog.str().empty());
  CHECK_EQ(seen.banner, std::wstring(L"Error Number: 1042"));
  CHECK_EQ(seen.heading, std::wstring(L"Error Information"));
  CHECK_EQ(seen.paneFirst, errorLog.str());
  CHECK_EQ(seen.paneSystem, sysLog.str());
  CHECK_EQ(seen.headingApp, std::wstring(L"App. Information"));
  CHECK_EQ(seen.paneApp, appLog.str());
  CHECK_EQ(seen.headingBack, std::wstring(L"Error Information"));
  CHECK_EQ(seen.paneBack, errorLog.str());
  CHECK_EQ(seen.mailBoxes, (std::vector<std::wstring>{
                               L"Operation Failed: Error occurred while attempting to compose Error email in MS Outlook"}));
  CHECK_EQ(seen.paneAfterTyping, sysLog.str());
  CHECK_EQ(seen.clipboardFirst, report);
  CHECK_EQ(seen.clipboardAfterSettings, report);
  CHECK(!seen.traceEnabled);
  CHECK(!seen.databaseVisible);
  CHECK(seen.appVisible);
  CHECK(seen.settingsVisible);
  CHECK(seen.settingsOnDefault);
  CHECK(seen.settingsBoxesDisabled);
  CHECK(seen.ownerTakesNoInput);
  CHECK(IsWindowEnabled(own));
  CHECK_EQ(seen.flagAfterCancel, std::wstring(L"False"));
  CHECK_EQ(setting(L"EmailFlag"), std::wstring(L"True"));  // the mail's confirmation was accepted
  CHECK_EQ(setting(L"EmailType"), std::wstring(L"0"));

  // The settings dialog on its own: validation messages, then SMTP accepted.
  clearSettings();
  {
    BoxWatcher boxes;
    std::vector<std::wstring> shown;
    std::thread user([&] { smtpSettingsUser(boxes, shown); });
    CHECK_EQ(h->ChangeEmailSettings(), S_OK);
    user.join();
    CHECK_EQ(shown, (std::vector<std::wstring>{L"Email: Enter the MailServer for sending the Email through SMTP.",
                                               L"Email: Enter the Email address for sending the Email through SMTP."}));
  }
  CHECK_EQ(setting(L"EmailType"), std::wstring(L"2"));
  CHECK_EQ(setting(L"ShowEmlScre"), std::wstring(L"1"));
  CHECK_EQ(setting(L"EmailFlag"), std::wstring(L"True"));
  {
    std::vector<std::wstring> shown;
    std::thread user([&] { reopenedSettingsUser(shown); });
    CHECK_EQ(h->ChangeEmailSettings(), S_OK);
    user.join();
    CHECK_EQ(shown, (std::vector<std::wstring>{L"mail.example.com", L"Order Desk", L"orders@example.com"}));
  }
  CHECK_EQ(setting(L"EmailFlag"), std::wstring(L"False"));  // the close box is no acceptance

  if (point && cookie) point->Unadvise(cookie);
  h.reset();
  DestroyWindow(own);
  clearSettings();
  return finish("error_dialog");
}
