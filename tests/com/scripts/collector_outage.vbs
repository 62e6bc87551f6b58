' Reports while the collector is silent: they wait in the user's outbox beyond the process, those
' being sent when the process is killed included, and the next process sends them. The runner
' plays the collector and reads what it took.
'   cscript //nologo collector_outage.vbs <scratch> queue <DSN>   three handled errors, then a
'                                                                 flush the runner kills mid-send
'   cscript //nologo collector_outage.vbs <scratch> send <DSN>    what waits, sent

Dim args : Set args = WScript.Arguments
Dim c : Set c = CreateObject("Quenvar.Collector")
c.Dsn = args(2)
If args(1) = "queue" Then
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  h.Destination = folder
  ' The host writes its output only when it ends: the runner reads the event ids from a file.
  Dim ids : Set ids = fso.CreateTextFile(folder & "\queued.tmp", True)
  Dim i
  For i = 1 To 3
    h.Push "Post" & i
    Check "HandleError " & i, h.HandleError("Could not post " & i, 1000 + i, i), 0
    ids.WriteLine c.LastEventId
  Next
  Check "three wait", c.Pending, 3
  If failures = 0 Then ids.Close : fso.MoveFile folder & "\queued.tmp", folder & "\queued"
  c.Flush 120000
  WScript.Echo "FAIL the flush came back from a collector that never answers: " & c.LastError
Else
  Check "three wait for the next process", c.Pending, 3
  Check "all sent", c.Flush(20000), 0
  Check "no failure", c.LastError, ""
End If
WScript.Echo "RESULT collector_outage: " & failures & " failures"
WScript.Quit failures
