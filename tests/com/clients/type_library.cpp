// The type library embedded in the DLL, read back as clients read it, against the published
// contract written out by hand below: compiled clients depend on every identity, slot and id.

#include "client_support.h"

using namespace client;

namespace {

GUID guid(const wchar_t* text) {
  GUID g{};
  if (FAILED(CLSIDFromString(text, &g))) fail(__FILE__, __LINE__, "bad GUID text " + show(text));
  return g;
}

const wchar_t* const kLibrary = L"{430F2E7B-97F3-44B5-9B05-A518346D9F09}";
const wchar_t* const kHandlerInterface = L"{3B019981-87FB-4C34-A9F8-464160F24842}";
const wchar_t* const kSysObjInterface = L"{C8A9E3AE-3E19-4282-A2D7-CFFEAA9F6476}";
const wchar_t* const kEvents = L"{6C78CA81-1A33-4310-A185-A38674038825}";
const wchar_t* const kEmailType = L"{9537698D-41D1-4579-9AA6-9928FCD705F7}";
const wchar_t* const kHandlerClass = L"{8783F5D3-0C2C-4C3B-B80E-64C3B12A46BA}";
const wchar_t* const kSysObjClass = L"{A341AAFB-4481-4EF3-8472-42580BACEFE4}";
const wchar_t* const kEarlierInterface = L"{A43B5121-AA23-4477-B0C7-BA41A363AE6A}";
const wchar_t* const kMailSettingsInterface = L"{48580170-DABE-46DD-B84F-0E7320E7DF50}";
const wchar_t* const kMailSettingsClass = L"{8427BA4B-3383-4005-8BF7-85881FF98BD3}";
const wchar_t* const kCollectorInterface = L"{85EA2B4D-8C3D-4D9A-8BCB-E391931CE918}";
const wchar_t* const kCollectorClass = L"{5D28FE69-90AD-4CA3-935C-CE43024837ED}";

// One letter per parameter: i in, b in-out, r out-retval, o in-optional, p in-out-optional.
USHORT paramFlags(char code) {
  switch (code) {
    case 'i': return PARAMFLAG_FIN;
    case 'b': return PARAMFLAG_FIN | PARAMFLAG_FOUT;
    case 'r': return PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    case 'o': return PARAMFLAG_FIN | PARAMFLAG_FOPT;
    case 'p': return PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT;
  }
  return 0xFFFF;
}

struct Member {
  DISPID id;
  INVOKEKIND kind;
  const wchar_t* name;
  const char* params;
  const wchar_t* help;
};
constexpr INVOKEKIND G = INVOKE_PROPERTYGET, P = INVOKE_PROPERTYPUT, F = INVOKE_FUNC;
const wchar_t* const kLogEventHelp = L"LogEvent  Flag based on the value it fires log into the eventviewer";
const wchar_t* const kEmailSettingsHelp =
    L"Email Settings Property which holds boolean value and set the visible property of change email settings in lib form";

const Member kHandlerMembers[] = {
    {0x68030017, G, L"ErrorLogDisplay", "r", nullptr},
    {0x68030016, G, L"CallStack", "r", nullptr},
    {0x68030015, G, L"CurrentOperation", "r", nullptr},
    {0x68030014, G, L"CustomErrMessage", "r", nullptr},
    {0x68030013, G, L"ErrorType", "r", nullptr},
    {0x68030012, G, L"Destination", "r", nullptr},
    {0x68030011, G, L"ErrDesc", "r", nullptr},
    {0x68030010, G, L"ErrNum", "r", nullptr},
    {0x6803000f, G, L"ProcName", "r", nullptr},
    {0x6803000e, G, L"ErrLine", "r", nullptr},
    {0x6803000d, P, L"Cn", "b", nullptr},
    {0x6803000d, G, L"Cn", "r", nullptr},
    {0x6803000c, G, L"ADOVersion", "r", L"Readonly property which holds the ADO version info. of the driver"},
    {0x6803000b, P, L"AppObject", "i", nullptr},
    {0x6803000b, G, L"AppObject", "r", nullptr},
    {0x6803000a, P, L"UseInterface", "b", nullptr},
    {0x68030009, P, L"EmailAddress", "b", nullptr},
    {0x68030015, P, L"CurrentOperation", "i", nullptr},
    {0x68030012, P, L"Destination", "i", nullptr},
    {0x68030008, P, L"TraceExecution", "i", nullptr},
    {0x6003001a, F, L"HandleError", "iiopr", nullptr},
    {0x6003001b, F, L"Pop", "r", nullptr},
    {0x6003001c, F, L"Push", "br", nullptr},
    {0x60030020, F, L"AddParam", "bbb", nullptr},
    {0x68030007, P, L"FromName", "b", nullptr},
    {0x68030006, P, L"FromEmailAddress", "b", nullptr},
    {0x68030005, P, L"SMTPMailServer", "b", nullptr},
    {0x68030004, P, L"ToName", "b", nullptr},
    {0x68030003, P, L"EmailType", "b", nullptr},
    {0x68030003, G, L"EmailType", "r", nullptr},
    {0x60030021, F, L"ShowParam", "r", nullptr},
    {0x68030002, G, L"EmailSettings", "r", kEmailSettingsHelp},
    {0x68030002, P, L"EmailSettings", "i", kEmailSettingsHelp},
    {0x68030001, G, L"LogEvent", "r", kLogEventHelp},
    {0x68030001, P, L"LogEvent", "i", kLogEventHelp},
    {0x68030000, G, L"SysObject", "r", nullptr},
    {0x60030022, F, L"ShowErrorLog", "i", L"Method used to view error and trace log\r\n"},
    {0x60030023, F, L"ChangeEmailSettings", "", L"Method used to change email settings"},
    {0x60030024, F, L"TransmitMail", "i", L"Method used to transmit mail"},
    {0x6803002a, G, L"ShowAppInfo", "r", L"Property to set whether the AppInfo should be shown"},
    {0x6803002a, P, L"ShowAppInfo", "i", L"Property to set whether the AppInfo should be shown"},
    {0x68030029, G, L"ShowSysInfo", "r", L"Property to set whether the SysInfo should be shown"},
    {0x68030029, P, L"ShowSysInfo", "i", L"Property to set whether the SysInfo should be shown"},
    {0x68030028, G, L"ShowDBInfo", "r", L"Property to set whether the DBInfo should be shown"},
    {0x68030028, P, L"ShowDBInfo", "i", L"Property to set whether the DBInfo should be shown"},
    {0x68030027, G, L"AppLogDisplay", "r", nullptr},
    {0x68030026, G, L"SysLogDisplay", "r", nullptr},
    {0x68030025, G, L"DbLogDisplay", "r", nullptr},
};

const Member kSysObjMembers[] = {
    {0x68030008, G, L"PlatForm", "r", nullptr},
    {0x68030007, G, L"OsVersion", "r", nullptr},
    {0x68030006, G, L"Build", "r", nullptr},
    {0x68030005, G, L"ServicePack", "r", nullptr},
    {0x68030004, G, L"Cpu", "r", nullptr},
    {0x68030003, G, L"TotalPhysicalMemory", "r", nullptr},
    {0x68030002, G, L"AvailablePhysicalMemory", "r", nullptr},
    {0x68030001, G, L"TotalVirtualMemory", "r", nullptr},
    {0x68030000, G, L"AvailableVirtualMemory", "r", nullptr},
};

const wchar_t* const kPortHelp = L"Port of the SMTP server, 1 to 65535; 25 when never set";
const wchar_t* const kSecurityHelp = L"Security of the SMTP connection: 0 none, 1 STARTTLS, 2 implicit TLS";
const wchar_t* const kUserNameHelp = L"User name to sign in to the SMTP server with; empty for no sign-in";
const wchar_t* const kCAFileHelp = L"File of certificate authorities trusted for the SMTP server besides the system's";
// The password has no getter: it is written, never read back.
const Member kMailSettingsMembers[] = {
    {0x68030000, G, L"SMTPPort", "r", kPortHelp},
    {0x68030000, P, L"SMTPPort", "i", kPortHelp},
    {0x68030001, G, L"SMTPSecurity", "r", kSecurityHelp},
    {0x68030001, P, L"SMTPSecurity", "i", kSecurityHelp},
    {0x68030002, G, L"SMTPUserName", "r", kUserNameHelp},
    {0x68030002, P, L"SMTPUserName", "i", kUserNameHelp},
    {0x68030003, P, L"SMTPPassword", "i",
     L"Password to sign in to the SMTP server with, kept protected; write-only"},
    {0x68030004, G, L"SMTPCAFile", "r", kCAFileHelp},
    {0x68030004, P, L"SMTPCAFile", "i", kCAFileHelp},
};

const wchar_t* const kDsnHelp =
    L"Where reports go: {http|https}://{key}@{host}[:{port}][/{path}]/{project}; empty: nowhere";
const wchar_t* const kEnvironmentHelp = L"The environment reports are filed under; production unless set";
const wchar_t* const kReleaseHelp =
    L"The release reports are filed under; empty: Title@Major.Minor.Revision of the application";
const wchar_t* const kCollectorCAHelp = L"File of certificate authorities trusted for the collector besides the system's";
const wchar_t* const kUserNamesHelp = L"Whether the login and machine names go with a report";
const wchar_t* const kConsentRequiredHelp = L"Whether reports wait for the user's consent";
const wchar_t* const kConsentHelp = L"The user's consent for this collector: 0 not asked, 1 given, 2 refused";
const wchar_t* const kCatchCrashesHelp = L"Whether a crash of the process leaves a report, sent by the next run";
const wchar_t* const kTrackSessionsHelp = L"Whether each run of the process is counted as a session of release health";
const Member kCollectorMembers[] = {
    {0x68030000, G, L"Dsn", "r", kDsnHelp},
    {0x68030000, P, L"Dsn", "i", kDsnHelp},
    {0x68030001, G, L"Environment", "r", kEnvironmentHelp},
    {0x68030001, P, L"Environment", "i", kEnvironmentHelp},
    {0x68030002, G, L"Release", "r", kReleaseHelp},
    {0x68030002, P, L"Release", "i", kReleaseHelp},
    {0x68030003, G, L"CAFile", "r", kCollectorCAHelp},
    {0x68030003, P, L"CAFile", "i", kCollectorCAHelp},
    {0x68030004, G, L"SendUserName", "r", kUserNamesHelp},
    {0x68030004, P, L"SendUserName", "i", kUserNamesHelp},
    {0x68030005, G, L"ConsentRequired", "r", kConsentRequiredHelp},
    {0x68030005, P, L"ConsentRequired", "i", kConsentRequiredHelp},
    {0x68030006, G, L"Consent", "r", kConsentHelp},
    {0x68030006, P, L"Consent", "i", kConsentHelp},
    {0x68030007, G, L"Pending", "r", L"Reports waiting to be sent to this collector"},
    {0x60030008, F, L"Flush", "ir", L"Sends what waits at once; how many still wait after at most TimeoutMs"},
    {0x68030009, G, L"LastEventId", "r", L"The event id of the last report a handler of this thread queued"},
    {0x6803000A, G, L"LastError", "r", L"The last sending failure in words; empty after a success"},
    {0x6803000B, G, L"CatchCrashes", "r", kCatchCrashesHelp},
    {0x6803000B, P, L"CatchCrashes", "i", kCatchCrashesHelp},
    {0x6803000C, G, L"CrashedLastRun", "r", L"Whether the last run that ended did so by a crash caught here"},
    {0x6003000D, F, L"ClearCrashedLastRun", "", L"Forgets that the last run crashed"},
    {0x6803000E, G, L"TrackSessions", "r", kTrackSessionsHelp},
    {0x6803000E, P, L"TrackSessions", "i", kTrackSessionsHelp},
};

struct Attr {
  Ptr<ITypeInfo> info;
  TYPEATTR* a = nullptr;
  explicit Attr(Ptr<ITypeInfo> i) : info(std::move(i)) {
    if (!info || FAILED(info->GetTypeAttr(&a))) fail(__FILE__, __LINE__, "no type attributes");
  }
  Attr(const Attr&) = delete;
  Attr& operator=(const Attr&) = delete;
  ~Attr() {
    if (a) info->ReleaseTypeAttr(a);
  }
  const TYPEATTR* operator->() const {
    static TYPEATTR empty{};
    return a ? a : &empty;
  }
};

std::wstring nameOf(ITypeInfo* ti, MEMBERID id, std::wstring* help = nullptr) {
  Bstr name, doc;
  if (FAILED(ti->GetDocumentation(id, name.put(), doc.put(), nullptr, nullptr))) return L"<none>";
  if (help) *help = doc.str();
  return name.str();
}

Ptr<ITypeInfo> typeOf(ITypeLib* lib, const wchar_t* id) {
  Ptr<ITypeInfo> ti;
  HRESULT hr = lib->GetTypeInfoOfGuid(guid(id), ti.put());
  if (FAILED(hr)) fail(__FILE__, __LINE__, "type " + show(id) + " missing: " + show(hr));
  return ti;
}

Ptr<ITypeInfo> implemented(ITypeInfo* ti, UINT index) {
  HREFTYPE ref = 0;
  Ptr<ITypeInfo> out;
  if (FAILED(ti->GetRefTypeOfImplType(index, &ref)) || FAILED(ti->GetRefTypeInfo(ref, out.put())))
    fail(__FILE__, __LINE__, "no implemented type " + show(index));
  return out;
}

// The vtable side of a dual interface, slot by slot after IDispatch's seven.
void checkDual(ITypeLib* lib, const wchar_t* iid, const wchar_t* name, const Member* members, size_t count) {
  Attr dispatchSide(typeOf(lib, iid));
  if (!dispatchSide.a) return;
  CHECK_EQ(nameOf(dispatchSide.info.get(), MEMBERID_NIL), std::wstring(name));
  CHECK_EQ(dispatchSide->typekind, TKIND_DISPATCH);
  const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
  CHECK_EQ(dispatchSide->wTypeFlags & flags, flags);
  Attr vt(implemented(dispatchSide.info.get(), static_cast<UINT>(-1)));
  CHECK_EQ(vt->typekind, TKIND_INTERFACE);
  CHECK_EQ(vt->wTypeFlags & (flags | TYPEFLAG_FOLEAUTOMATION), flags | TYPEFLAG_FOLEAUTOMATION);
  CHECK_EQ(vt->guid, guid(iid));
  CHECK_EQ(nameOf(implemented(vt.info.get(), 0).get(), MEMBERID_NIL), std::wstring(L"IDispatch"));
  CHECK_EQ(static_cast<size_t>(vt->cFuncs), count);
  for (UINT i = 0; i < vt->cFuncs && i < count; ++i) {
    const Member& m = members[i];
    FUNCDESC* f = nullptr;
    if (FAILED(vt.info->GetFuncDesc(i, &f))) {
      fail(__FILE__, __LINE__, "no function " + show(i));
      continue;
    }
    const std::string where = " at slot " + std::to_string(i) + " " + show(m.name);
    std::wstring help;
    if (f->memid != m.id || f->invkind != m.kind || nameOf(vt.info.get(), f->memid, &help) != m.name)
      fail(__FILE__, __LINE__, "member " + show(f->memid) + " kind " + show(f->invkind) + where);
    if (static_cast<size_t>(f->oVft) != (7 + i) * sizeof(void*) || f->elemdescFunc.tdesc.vt != VT_HRESULT)
      fail(__FILE__, __LINE__, "slot offset or return type" + where);
    if (help != (m.help ? m.help : L"")) fail(__FILE__, __LINE__, "help " + show(help) + ", want " + show(m.help) + where);
    if (static_cast<size_t>(f->cParams) != strlen(m.params)) {
      fail(__FILE__, __LINE__, "parameter count " + show(f->cParams) + where);
    } else {
      for (SHORT p = 0; p < f->cParams; ++p)
        if (f->lprgelemdescParam[p].paramdesc.wParamFlags != paramFlags(m.params[p]))
          fail(__FILE__, __LINE__, "parameter " + show(p) + " flags " + show(f->lprgelemdescParam[p].paramdesc.wParamFlags) + where);
    }
    vt.info->ReleaseFuncDesc(f);
  }
}

void checkEvents(ITypeLib* lib) {
  Attr events(typeOf(lib, kEvents));
  if (!events.a) return;
  CHECK_EQ(nameOf(events.info.get(), MEMBERID_NIL), std::wstring(L"__clsErrHandler"));
  CHECK_EQ(events->typekind, TKIND_DISPATCH);
  CHECK_EQ(events->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL), TYPEFLAG_FHIDDEN);
  CHECK_EQ(events->cFuncs, 2);
  const struct {
    DISPID id;
    const wchar_t* name;
    std::vector<std::wstring> params;
  } expected[] = {{1, L"BeforeHandlerCalled", {L"Cancel"}}, {2, L"AfterHandlerCalled", {}}};
  for (UINT i = 0; i < events->cFuncs && i < 2; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(events.info->GetFuncDesc(i, &f))) continue;
    CHECK_EQ(f->memid, expected[i].id);
    CHECK_EQ(f->invkind, INVOKE_FUNC);
    BSTR names[4] = {};
    UINT n = 0;
    events.info->GetNames(f->memid, names, 4, &n);
    std::vector<std::wstring> got;
    for (UINT k = 0; k < n; ++k) got.push_back(names[k]), SysFreeString(names[k]);
    std::vector<std::wstring> want{expected[i].name};
    want.insert(want.end(), expected[i].params.begin(), expected[i].params.end());
    CHECK_EQ(got, want);
    if (f->cParams == 1) {
      const ELEMDESC& cancel = f->lprgelemdescParam[0];
      CHECK_EQ(cancel.paramdesc.wParamFlags, paramFlags('b'));
      CHECK(cancel.tdesc.vt == VT_PTR && cancel.tdesc.lptdesc->vt == VT_BOOL);
    }
    events.info->ReleaseFuncDesc(f);
  }
}

void checkEnumAliasAndClasses(ITypeLib* lib) {
  Attr e(typeOf(lib, kEmailType));
  CHECK_EQ(nameOf(e.info.get(), MEMBERID_NIL), std::wstring(L"Email_Type"));
  CHECK_EQ(e->typekind, TKIND_ENUM);
  CHECK_EQ(e->cVars, 3);
  const wchar_t* const names[] = {L"aeOutlook", L"aeDefault", L"aeSMTP"};
  for (UINT i = 0; i < e->cVars && i < 3; ++i) {
    VARDESC* v = nullptr;
    if (FAILED(e.info->GetVarDesc(i, &v))) continue;
    CHECK_EQ(nameOf(e.info.get(), v->memid), std::wstring(names[i]));
    CHECK(v->varkind == VAR_CONST && V_VT(v->lpvarValue) == VT_I4 && V_I4(v->lpvarValue) == static_cast<LONG>(i));
    e.info->ReleaseVarDesc(v);
  }

  Attr alias(typeOf(lib, kEarlierInterface));
  CHECK_EQ(nameOf(alias.info.get(), MEMBERID_NIL), std::wstring(L"clsErrHandler___v0"));
  CHECK_EQ(alias->typekind, TKIND_ALIAS);
  CHECK(alias->wTypeFlags & TYPEFLAG_FHIDDEN);
  CHECK_EQ(alias->tdescAlias.vt, VT_USERDEFINED);
  Ptr<ITypeInfo> target;
  if (alias.a && SUCCEEDED(alias.info->GetRefTypeInfo(alias->tdescAlias.hreftype, target.put())))
    CHECK_EQ(Attr(std::move(target))->guid, guid(kHandlerInterface));

  const struct {
    const wchar_t* clsid;
    const wchar_t* name;
    bool creatable;
    std::vector<std::pair<const wchar_t*, INT>> implemented;
  } classes[] = {
      {kHandlerClass, L"clsErrHandler", true,
       {{kHandlerInterface, IMPLTYPEFLAG_FDEFAULT}, {kEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}},
      {kSysObjClass, L"SysObj", false, {{kSysObjInterface, IMPLTYPEFLAG_FDEFAULT}}},
      {kMailSettingsClass, L"MailSettings", true, {{kMailSettingsInterface, IMPLTYPEFLAG_FDEFAULT}}},
      {kCollectorClass, L"Collector", true, {{kCollectorInterface, IMPLTYPEFLAG_FDEFAULT}}},
  };
  for (auto& c : classes) {
    Attr co(typeOf(lib, c.clsid));
    CHECK_EQ(nameOf(co.info.get(), MEMBERID_NIL), std::wstring(c.name));
    CHECK_EQ(co->typekind, TKIND_COCLASS);
    CHECK_EQ((co->wTypeFlags & TYPEFLAG_FCANCREATE) != 0, c.creatable);
    CHECK_EQ(static_cast<size_t>(co->cImplTypes), c.implemented.size());
    for (UINT i = 0; i < co->cImplTypes && i < c.implemented.size(); ++i) {
      INT flags = 0;
      co.info->GetImplTypeFlags(i, &flags);
      CHECK_EQ(flags, c.implemented[i].second);
      CHECK_EQ(Attr(implemented(co.info.get(), i))->guid, guid(c.implemented[i].first));
    }
  }
}

void checkLibrary(ITypeLib* lib) {
  TLIBATTR* attr = nullptr;
  if (SUCCEEDED(lib->GetLibAttr(&attr))) {
    CHECK_EQ(attr->guid, guid(kLibrary));
    CHECK(attr->wMajorVerNum == 1 && attr->wMinorVerNum == 1);
    lib->ReleaseTLibAttr(attr);
  }
  Bstr name;
  lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
  CHECK_EQ(name.str(), std::wstring(L"Quenvar"));
  CHECK_EQ(lib->GetTypeInfoCount(), 11u);
  // Registration put the library where clients that bind by its identity find it.
  Ptr<ITypeLib> registered;
  CHECK_EQ(LoadRegTypeLib(guid(kLibrary), 1, 1, 0, registered.put()), S_OK);
}

std::wstring versionString(const std::vector<BYTE>& block, const std::wstring& translation, const wchar_t* key) {
  void* value = nullptr;
  UINT size = 0;
  std::wstring path = L"\\StringFileInfo\\" + translation + L"\\" + key;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &size)) return L"<missing>";
  return size ? std::wstring(static_cast<const wchar_t*>(value)) : std::wstring();
}

void checkVersionResource(const std::wstring& dll) {
  DWORD handle = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeW(dll.c_str(), &handle));
  if (block.empty() || !GetFileVersionInfoW(dll.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
    fail(__FILE__, __LINE__, "no version resource");
    return;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) && fixed) {
    CHECK_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(9, 1)));
    CHECK_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(96, 0)));
  } else {
    fail(__FILE__, __LINE__, "no fixed file information");
  }
  WORD* translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
      size < 4) {
    fail(__FILE__, __LINE__, "no translation");
    return;
  }
  wchar_t lang[16];
  wsprintfW(lang, L"%04x%04x", translation[0], translation[1]);
  CHECK_EQ(versionString(block, lang, L"FileVersion"), std::wstring(L"1.09.0096"));
  CHECK_EQ(versionString(block, lang, L"InternalName"), std::wstring(L"Quenvar"));
  CHECK_EQ(versionString(block, lang, L"OriginalFilename"), std::wstring(L"Quenvar.dll"));
  CHECK(versionString(block, lang, L"OLESelfRegister") != L"<missing>");
}

std::wstring registeredServer() {
  wchar_t value[MAX_PATH * 2] = L"";
  LONG size = sizeof value;
  std::wstring key = std::wstring(L"CLSID\\") + kHandlerClass + L"\\InprocServer32";
  if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
  return value;
}

std::wstring normalized(std::wstring path) {
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : static_cast<wchar_t>(towlower(c));
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  Apartment apartment;
  const std::wstring dll = registeredServer();
  CHECK(!dll.empty());
  // This build's DLL, not one registered by another build.
  if (argc > 1) CHECK_EQ(normalized(dll), normalized(std::wstring(argv[1], argv[1] + strlen(argv[1]))));

  Ptr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(dll.c_str(), REGKIND_NONE, lib.put());
  CHECK_EQ(hr, S_OK);
  if (lib) {
    checkLibrary(lib.get());
    checkDual(lib.get(), kHandlerInterface, L"_clsErrHandler", kHandlerMembers, std::size(kHandlerMembers));
    checkDual(lib.get(), kSysObjInterface, L"_SysObj", kSysObjMembers, std::size(kSysObjMembers));
    checkDual(lib.get(), kMailSettingsInterface, L"_MailSettings", kMailSettingsMembers,
              std::size(kMailSettingsMembers));
    checkDual(lib.get(), kCollectorInterface, L"_Collector", kCollectorMembers, std::size(kCollectorMembers));
    checkEvents(lib.get());
    checkEnumAliasAndClasses(lib.get());
  }
  checkVersionResource(dll);
  return finish("type_library");
}
