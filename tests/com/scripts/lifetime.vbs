' Many create, use, release cycles from a script: the host's memory must stay flat. The process
' cannot read its own memory: it asks the wrapper (lifetime.sh), which reads the host process's
' VmRSS from outside and answers in a file.
'   cscript //nologo lifetime.vbs <scratch folder>

' The script host's resident set in KB as lifetime.sh saw it, or -1 when no answer came.
Function Resident(n)
  fso.CreateTextFile(folder & "\measure-" & n).Close
  ' Wine's host lacks WScript.Sleep: polls for at most 30 s (Timer wraps at midnight: Abs).
  Dim answer, started : answer = folder & "\measured-" & n : started = Timer
  Do While Not fso.FileExists(answer) And Abs(Timer - started) < 30
  Loop
  Resident = -1
  If fso.FileExists(answer) Then Resident = CLng(fso.OpenTextFile(answer).ReadLine)
End Function

Sub Cycle(i)
  Dim h, sys, facts
  Set h = CreateObject("Quenvar.clsErrHandler")
  h.CurrentOperation = "Counting"
  h.ShowSysInfo = True
  h.LogEvent = False
  h.Push "Cycle"
  h.AddParam "Index", "Long", i
  facts = h.ShowParam & UBound(h.CallStack)
  Set sys = h.SysObject
  facts = sys.PlatForm & sys.OsVersion & sys.Build & sys.ServicePack & sys.Cpu & _
    sys.TotalPhysicalMemory & sys.AvailablePhysicalMemory & sys.TotalVirtualMemory & sys.AvailableVirtualMemory
  h.Pop
End Sub

Dim i, before, after, started
For i = 1 To 1000
  Cycle i
Next
before = Resident(1)
started = Timer
For i = 1 To 10000
  Cycle i
Next
after = Resident(2)
WScript.Echo "10000 cycles in " & Round(Timer - started, 1) & " s; resident " & before & " KB, then " & after & " KB"
Check "resident set measured", before > 0 And after > 0, True
' As in the C++ client: warmed up it grows by nothing; one short BSTR leaked a cycle adds ~240 KB.
Check "resident set grew by less than 128 KB", after - before < 128, True

WScript.Echo "RESULT lifetime: " & failures & " failures"
WScript.Quit failures
