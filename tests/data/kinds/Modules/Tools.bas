Attribute VB_Name = "Tools"
Option Explicit

Public Function Twice(ByVal n As Long) As Long
    Twice = 2 * n
End Function
