' A script client's Push+Pop pair against Scripting.Dictionary's Add+Remove pair, in
' alternating blocks. Prints a FIGURE line; exits 1 when the target is missed.
Option Explicit
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
Dim d : Set d = CreateObject("Scripting.Dictionary")
Const kBlock = 2000
Const kRounds = 15
Dim name : name = "PostInvoice"
Dim ours, floor, t, i, block
ours = 0 : floor = 0
For block = 1 To kRounds
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
Dim met : If ratio <= 1.0 Then met = "met" Else met = "NOT-MET"
WScript.Echo "Push+Pop " & FormatNumber(ours / (kBlock * kRounds) * 1e6, 2) & " us, Dictionary Add+Remove " & _
  FormatNumber(floor / (kBlock * kRounds) * 1e6, 2) & " us"
' A point whatever the locale's decimal separator: scripts/bench.sh reads this line.
WScript.Echo "FIGURE wine_script_push_pop_vs_dictionary_add_remove_x " & Replace(FormatNumber(ratio, 3, -1, 0, 0), ",", ".") & " 1.00 " & met
If ratio <= 1.0 Then WScript.Quit 0 Else WScript.Quit 1
