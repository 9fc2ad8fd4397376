Attribute VB_Name = "Startup"
Option Explicit

Sub Main()
End Sub
