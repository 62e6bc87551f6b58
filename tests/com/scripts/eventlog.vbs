' A handled error with LogEvent set: the entry itself is checked on standard error by the caller.
Option Explicit
Dim failures : failures = 0
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
h.Destination = WScript.Arguments(0)
h.LogEvent = True
h.Push "WriteBatch"
Dim status : status = h.HandleError("Disk full", 61, 12)
If status <> 0 Then
  WScript.Echo "FAIL HandleError returned " & status
  failures = failures + 1
End If
If Not h.LogEvent Then
  WScript.Echo "FAIL LogEvent reads False"
  failures = failures + 1
End If
WScript.Echo "RESULT eventlog: " & failures & " failures"
WScript.Quit failures
