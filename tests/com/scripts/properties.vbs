' Handler properties through the real component: defaults, Destination, Cn, AppObject, SysObject.
'   cscript //nologo properties.vbs <scratch folder>

Class Connection
  Public ConnectionString
  Public Version
End Class

Class Application
  Public ProductName
  Public Major
  Public Minor
  Public Revision
  Public Path
End Class

' Lacks Revision, which the mail subject needs.
Class PartialApplication
  Public ProductName
  Public Major
  Public Minor
End Class

Function NewConnection(text, version)
  Set NewConnection = New Connection
  NewConnection.ConnectionString = text
  NewConnection.Version = version
End Function

Sub Defaults()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Check "ErrNum", h.ErrNum, 0
  Check "ErrLine", h.ErrLine, "0"
  Check "ErrorType", h.ErrorType, "0"
  Check "CustomErrMessage", h.CustomErrMessage, ""
  Check "texts", h.ErrDesc & h.ProcName & h.ErrorLogDisplay & h.Destination & h.CurrentOperation, ""
  Dim stack : stack = h.CallStack
  Check "CallStack bounds", LBound(stack) & ".." & UBound(stack), "0..1"
  Check "CallStack entries", stack(0) & "|" & stack(1), "|"
  Check "switches", h.LogEvent Or h.ShowAppInfo Or h.ShowSysInfo Or h.ShowDBInfo, False
  Check "no connection", h.Cn Is Nothing, True
  Check "no application", h.AppObject Is Nothing, True
  h.ShowAppInfo = True
  h.CurrentOperation = "Posting"
  Check "switch kept", h.ShowAppInfo And Not h.ShowSysInfo, True
  Check "CurrentOperation kept", h.CurrentOperation, "Posting"
End Sub

Sub Destinations()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim cases, i
  ' Given, stored, folder that must exist afterwards.
  cases = Array( _
    folder & "\a\", folder & "\a", folder & "\a", _
    folder & "\b/  ", folder & "\b", folder & "\b", _
    folder & "\c\\", folder & "\c\", folder & "\c", _
    "  " & folder & "\e/ ", folder & "\e", folder & "\e", _
    folder & "\f  ", folder & "\f  ", folder & "\f", _
    folder & "\a", folder & "\a", folder & "\a")
  For i = 0 To UBound(cases) Step 3
    h.Destination = cases(i)
    Check "Destination [" & cases(i) & "]", h.Destination, cases(i + 1)
    Check "folder " & cases(i + 2), fso.FolderExists(cases(i + 2)), True
  Next
  ' Only one trailing separator goes: "c\\" made "c", nothing below it.
  Check "one separator dropped", fso.GetFolder(folder & "\c").SubFolders.Count, 0

  fso.CreateTextFile(folder & "\file").Close
  h.Destination = folder & "\file"
  Check "a file is accepted as it is", h.Destination & fso.FileExists(folder & "\file"), folder & "\fileTrue"
End Sub

Sub Connections()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  On Error Resume Next
  Dim v : v = h.ADOVersion
  CheckErr "ADOVersion before Cn", 91, "Quenvar", "Object variable or With block variable not set"
  On Error GoTo 0

  Dim open1 : Set open1 = NewConnection("Provider=SQLOLEDB;Data Source=orders", "2.8")
  Set h.Cn = open1
  Check "Set h.Cn", h.Cn Is open1, True
  Check "ADOVersion", h.ADOVersion, "2.8"

  On Error Resume Next
  h.Cn = NewConnection("", "9.9")
  CheckErr "closed connection", -2147220502, "Vantrelo", "ADO connection must be open before passing to the Error Object"
  Set h.Cn = NewConnection("", "9.9")
  CheckErr "closed connection by Set", -2147220502, "Vantrelo", "ADO connection must be open before passing to the Error Object"
  On Error GoTo 0
  Check "previous connection kept", h.Cn.Version, "2.8"

  Dim open2 : Set open2 = NewConnection("DSN=Orders", 6.1)
  h.Cn = open2
  Check "h.Cn = c", h.Cn Is open2, True
  open2.Version = "6.2"
  Check "ADOVersion read on every call", h.ADOVersion, "6.2"
  h.Cn = NewConnection(Null, "7.0")
  Check "a Null connection string counts as open", h.ADOVersion, "7.0"
End Sub

Sub Applications()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim app : Set app = New Application
  app.ProductName = "Ledger" : app.Major = 2 : app.Minor = 0 : app.Revision = 15 : app.Path = folder
  Set h.AppObject = app
  Check "AppObject", h.AppObject Is app, True

  ' The mail subject is made on assignment: a member it needs is missing.
  Dim partial : Set partial = New PartialApplication
  partial.ProductName = "Ledger" : partial.Major = 2 : partial.Minor = 0
  On Error Resume Next
  Set h.AppObject = partial
  Dim n, d : n = Err.Number : d = Err.Description
  Err.Clear
  On Error GoTo 0
  Check "application without Revision", n, 438
  Check "the missing member is named", InStr(d, "Revision") > 0, True
  Check "the object stays set", h.AppObject Is partial, True
End Sub

' Memory figures change from read to read: only their form and order are fixed.
Function Kilobytes(text)
  Dim re : Set re = New RegExp
  re.Pattern = "^[0-9]{1,3}(,[0-9]{3})*K$"
  If re.Test(text) Then Kilobytes = CDbl(Replace(Replace(text, ",", ""), "K", "")) Else Kilobytes = -1
End Function

Sub SystemFacts()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim s1 : Set s1 = h.SysObject
  Dim s2 : Set s2 = h.SysObject
  Check "one SysObject per handler", s1 Is s2, True
  Check "each handler its own", s1 Is CreateObject("Quenvar.clsErrHandler").SysObject, False

  Dim arch : arch = CreateObject("WScript.Shell").Environment("PROCESS")("QUENVAR_ARCH")
  Dim cpu : If arch = "win64" Then cpu = "(unknown)" Else cpu = "Intel Pentium"
  Check "PlatForm", s1.PlatForm, "WinNT"
  Check "OsVersion", s1.OsVersion, "6.01"
  Check "Build", s1.Build, "7601"
  Check "ServicePack", s1.ServicePack, "0"
  Check "Cpu (" & arch & ")", s1.Cpu, cpu
  Dim totalPhys, availPhys, totalVirt, availVirt
  totalPhys = Kilobytes(s1.TotalPhysicalMemory)
  availPhys = Kilobytes(s1.AvailablePhysicalMemory)
  totalVirt = Kilobytes(s1.TotalVirtualMemory)
  availVirt = Kilobytes(s1.AvailableVirtualMemory)
  Check "physical memory " & s1.AvailablePhysicalMemory & " of " & s1.TotalPhysicalMemory, _
    totalPhys >= availPhys And availPhys > 0, True
  Check "virtual memory " & s1.AvailableVirtualMemory & " of " & s1.TotalVirtualMemory, _
    totalVirt >= availVirt And availVirt > 0, True
End Sub

Defaults
Destinations
Connections
Applications
SystemFacts
WScript.Echo "RESULT properties: " & failures & " failures"
WScript.Quit failures
