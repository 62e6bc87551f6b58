' A script client's Push+Pop pair against Scripting.Dictionary's Add+Remove pair, in
' alternating blocks. Prints the ratio and its target; exits 1 when the target is missed.
Option Explicit
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
Dim d : Set d = CreateObject("Scripting.Dictionary")
Const kBlock = 2000
Const kRounds = 15
Dim name : name = "PostInvoice"
Dim ours, floor, t, i, round
ours = 0 : floor = 0
For round = 1 To kRounds
  t = Timer
  For i = 1 To kBlock
    d.Add name, i
    d.Remove name
  Next
  floor = floor + (Timer - t)
  t = Timer
  For i = 1 To kBlock
    h.Push name
    h.Pop
  Next
  ours = ours + (Timer - t)
Next
Dim ratio : ratio = ours / floor
Dim met : If ratio <= 1.0 Then met = "yes" Else met = "NO"
WScript.Echo "Script client Push+Pop / Dictionary Add+Remove" & Space(12) & FormatNumber(ratio, 2) & "x    1.00x  " & met & _
  "   (" & FormatNumber(ours / (kBlock * kRounds) * 1e6, 1) & " us vs " & FormatNumber(floor / (kBlock * kRounds) * 1e6, 1) & " us)"
If ratio <= 1.0 Then WScript.Quit 0 Else WScript.Quit 1
