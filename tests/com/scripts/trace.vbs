' The trace log through the real component: one line per Push, restarted when switched on.
'   cscript //nologo trace.vbs <scratch folder>

Class Application
  Public ProductName
  Public Major
  Public Minor
  Public Revision
  Public Path
End Class

Function FileText(path)
  If Not fso.FileExists(path) Then
    FileText = "<missing>"
  ElseIf fso.GetFile(path).Size = 0 Then
    FileText = ""
  Else
    FileText = fso.OpenTextFile(path, 1).ReadAll
  End If
End Function

Function Tracing(destination)
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  h.Destination = destination
  h.TraceExecution = True
  Set Tracing = h
End Function

Function AppAt(path)
  Dim app : Set app = New Application
  app.ProductName = "Ledger" : app.Major = 2 : app.Minor = 0 : app.Revision = 15 : app.Path = path
  Set AppAt = app
End Function

Sub OneLinePerPush()
  Dim h : Set h = Tracing(folder & "\lines")
  Check "Push A", h.Push("A"), 0
  h.Push "B"
  h.Pop
  h.Push "C"
  h.Push ""
  Check "Trace.log", FileText(folder & "\lines\Trace.log"), "A" & vbCrLf & "B" & vbCrLf & "C" & vbCrLf & vbCrLf
End Sub

' Files are in the ANSI code page: one byte for a u with diaeresis. (Wine's script engine has no ChrW.)
Sub AnsiText()
  Dim h : Set h = Tracing(folder & "\ansi")
  Dim name : name = "M" & Chr(252) & "ller"
  h.Push name
  Dim stack : stack = h.CallStack
  Check "name kept", stack(1), name
  Check "text read back", FileText(folder & "\ansi\Trace.log"), name & vbCrLf
  Check "bytes", fso.GetFile(folder & "\ansi\Trace.log").Size, 8
End Sub

Sub SwitchingRestarts()
  Dim h : Set h = Tracing(folder & "\switch")
  Dim logFile : logFile = folder & "\switch\Trace.log"
  h.Push "Before"
  h.TraceExecution = False
  h.Push "Untraced"
  Check "off keeps the log", FileText(logFile), "Before" & vbCrLf
  h.TraceExecution = True
  Check "on again deletes it", FileText(logFile), "<missing>"
  h.Push "After"
  Check "restarted", FileText(logFile), "After" & vbCrLf
End Sub

Sub DestinationFilledWhenEmpty()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  fso.CreateFolder folder & "\app"
  Set h.AppObject = AppAt(folder & "\app")
  h.TraceExecution = True
  Check "from AppObject.Path", h.Destination, folder & "\app"
  h.Push "Root"
  Check "written there", FileText(folder & "\app\Trace.log"), "Root" & vbCrLf

  ' Taken as read: the trailing separator stays.
  Set h = CreateObject("Quenvar.clsErrHandler")
  fso.CreateFolder folder & "\app2"
  Set h.AppObject = AppAt(folder & "\app2\")
  h.TraceExecution = True
  Check "separator kept", h.Destination, folder & "\app2\"
  h.Push "Second"
  Check "still written", FileText(folder & "\app2\Trace.log"), "Second" & vbCrLf

  ' Without an application: the component's own folder.
  Set h = CreateObject("Quenvar.clsErrHandler")
  h.TraceExecution = True
  h.TraceExecution = False
  Check "module folder " & h.Destination, fso.FileExists(h.Destination & "\Quenvar.dll"), True
End Sub

Sub LaterDestinationKeepsTheLog()
  Dim h : Set h = Tracing(folder & "\first")
  h.Destination = folder & "\second"
  h.Push "Still"
  Check "first folder", FileText(folder & "\first\Trace.log"), "Still" & vbCrLf
  Check "second folder", FileText(folder & "\second\Trace.log"), "<missing>"
End Sub

Sub FailedWrites()
  Dim h : Set h = Tracing(folder & "\gone")
  fso.DeleteFolder folder & "\gone"
  Check "Push into a missing folder", h.Push("NoFolder"), 76
  Dim stack : stack = h.CallStack
  Check "entry kept", stack(UBound(stack)), "NoFolder"
  fso.CreateFolder folder & "\gone"
  Check "Push again", h.Push("Recovered"), 0
  Check "log after recovery", FileText(folder & "\gone\Trace.log"), "Recovered" & vbCrLf
End Sub

OneLinePerPush
AnsiText
SwitchingRestarts
DestinationFilledWhenEmpty
LaterDestinationKeepsTheLog
FailedWrites
WScript.Echo "RESULT trace: " & failures & " failures"
WScript.Quit failures
