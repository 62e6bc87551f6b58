' A handled error with LogEvent set: the entry itself is checked on standard error by the caller.
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
h.Destination = folder
h.LogEvent = True
h.Push "WriteBatch"
Check "HandleError status", h.HandleError("Disk full", 61, 12), 0
Check "LogEvent", h.LogEvent, True
WScript.Echo "RESULT eventlog: " & failures & " failures"
WScript.Quit failures
