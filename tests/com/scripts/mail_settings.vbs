' What the mail suites share: the user's mail settings and a minimal application object.
Dim shell : Set shell = CreateObject("WScript.Shell")
Const Key = "HKCU\Software\VB and VBA Program Settings\Palvenor\ErrHandler"

Class App
  Public ProductName
  Public Major
  Public Minor
  Public Revision
End Class

Sub Stored(name, value)
  Check "reg.exe add " & name, shell.Run("reg.exe add """ & Key & """ /v " & name & " /d " & value & " /f", 0, True), 0
End Sub
