' The procedure stack and its parameters through the real component.
'   cscript //nologo stack.vbs <scratch folder>

' Its default member is read when the parameters are shown.
Class Counter
  Public n
  Public Default Property Get Value()
    Value = n
  End Property
End Class

Class Plain
  Public n
End Class

Function Names(h)
  Dim stack, i : stack = h.CallStack
  Names = LBound(stack) & ":"
  For i = LBound(stack) To UBound(stack)
    Names = Names & "|" & stack(i)
  Next
End Function

Function Param(ordinal, name, kind, value)
  Param = vbCrLf & ordinal & " Param:" & vbCrLf & "Name: " & vbTab & name & vbCrLf & _
    "Type : " & vbTab & kind & vbCrLf & "Value: " & vbTab & value & vbCrLf
End Function

Sub PushAndPop()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim name, i : name = "Main" : i = 3
  Check "Push variable", h.Push(name), 0
  Check "Push literal", h.Push("Lit"), 0
  Check "Push expression", h.Push("A" & i), 0
  Check "after three pushes", Names(h), "0:||Main|Lit|A3"
  Check "Pop", h.Pop, 0
  Check "after a pop", Names(h), "0:||Main|Lit"
  h.Pop
  h.Pop
  Check "emptied", Names(h), "0:|"
  Check "Pop on an empty stack", h.Pop, 0
  Check "still empty", Names(h), "0:|"
  Check "Push empty name", h.Push(""), 0
  Check "empty name kept", Names(h), "0:||"
End Sub

Sub ParameterText()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  h.Push "Calc"
  Check "no parameters", h.ShowParam, vbCrLf
  Dim pname, ptype, x, text
  pname = "CustomerId" : ptype = "Long" : x = 41 : text = "before"
  h.AddParam pname, ptype, x + 1
  h.AddParam "Name", "String", text
  h.AddParam "Amount", "Currency", CCur(125.5)
  h.AddParam "Ratio", "Double", 2.5
  h.AddParam "Flag", "Boolean", True
  h.AddParam "Nothing", "Variant", Null
  h.AddParam "Unset", "Variant", Empty
  text = "after"
  Check "parameter text", h.ShowParam, _
    Param("1st", "CustomerId", "Long", "42") & _
    Param("2nd", "Name", "String", "before") & _
    Param("3rd", "Amount", "Currency", CStr(CCur(125.5))) & _
    Param("4th", "Ratio", "Double", CStr(2.5)) & _
    Param("5th", "Flag", "Boolean", "True") & _
    Param("6th", "Nothing", "Variant", "") & _
    Param("7th", "Unset", "Variant", "")

  ' Each level has its own list; popping drops the inner one.
  h.Push "Inner"
  Check "inner level starts empty", h.ShowParam, vbCrLf
  h.AddParam "Key", "Long", 8
  Check "inner level", h.ShowParam, Param("1st", "Key", "Long", "8")
  h.Pop
  Check "outer level again", Left(h.ShowParam, Len(Param("1st", "CustomerId", "Long", "42"))), _
    Param("1st", "CustomerId", "Long", "42")
  h.Pop
End Sub

Sub Ordinals()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim i, text, ordinals
  h.Push "Bulk"
  For i = 1 To 23
    h.AddParam "p" & i, "Long", i
  Next
  text = h.ShowParam
  ' Ordinal names, each followed by its number.
  ordinals = Array("1st", 1, "2nd", 2, "3rd", 3, "4th", 4, "11th", 11, "12th", 12, "13th", 13, "21st", 21, "22nd", 22, "23rd", 23)
  For i = 0 To UBound(ordinals) Step 2
    Check "ordinal " & ordinals(i), InStr(text, Param(ordinals(i), "p" & ordinals(i + 1), "Long", ordinals(i + 1))) > 0, True
  Next
  Check "last entry ends the text", Right(text, Len(Param("23rd", "p23", "Long", "23"))), Param("23rd", "p23", "Long", "23")
  h.Pop
End Sub

Sub ObjectAndArrayValues()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim c : Set c = New Counter
  c.n = 1
  h.Push "P"
  h.AddParam "Counter", "Object", c
  h.AddParam "List", "Variant()", Array(1, 2)
  h.AddParam "After", "Integer", 3
  c.n = 2
  Check "object read when shown, array as dashes", h.ShowParam, _
    Param("1st", "Counter", "Object", "2") & _
    Param("2nd", "List", "Variant()", "-----") & _
    Param("3rd", "After", "Integer", "3")

  ' An object without a default member has no text: the whole list reads as nothing.
  h.Push "Q"
  h.AddParam "Form", "Object", New Plain
  h.AddParam "Later", "Long", 1
  Check "object without default member", h.ShowParam, ""
  h.Pop
  h.Pop
End Sub

PushAndPop
ParameterText
Ordinals
ObjectAndArrayValues
WScript.Echo "RESULT stack: " & failures & " failures"
WScript.Quit failures
