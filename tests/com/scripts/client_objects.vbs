' The client's objects as a script makes them: shared by the suites that hand the handler an
' application and a connection ('#include client_objects.vbs).

Class NamedValue
  Public Name
  Public Value
End Class

' 0-based, as the connection's Properties and Errors are.
Class Collection
  Private items
  Private size
  Private Sub Class_Initialize()
    ReDim items(8)
    size = 0
  End Sub
  Public Sub Add(item)
    Set items(size) = item
    size = size + 1
  End Sub
  Public Property Get Count()
    Count = size
  End Property
  Public Function Item(index)
    Set Item = items(index)
  End Function
  Public Sub Clear()
    size = 0
  End Sub
  Public Sub Refresh()
  End Sub
End Class

Class Application
  Public Title
  Public CompanyName
  Public Major
  Public Minor
  Public Revision
  Public Path
  Public ProductName
  Public Comments
  Public EXEName
  Public FileDescription
  Public HelpFile
  Public LegalCopyright
  Public LegalTrademarks
  Public LogMode
  Public LogPath
End Class

Function Prop(name, value)
  Set Prop = New NamedValue
  Prop.Name = name
  Prop.Value = value
End Function
