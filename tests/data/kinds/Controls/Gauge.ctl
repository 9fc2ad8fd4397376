VERSION 5.00
Begin VB.UserControl Gauge 
   ClientHeight    =   1200
   ClientLeft      =   0
   ClientTop       =   0
   ClientWidth     =   2400
   Picture         =   "Gauge.ctx":0000
   ScaleHeight     =   1200
   ScaleWidth      =   2400
End
Attribute VB_Name = "Gauge"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = True
Attribute VB_PredeclaredId = False
Attribute VB_Exposed = False
Option Explicit

Public Property Get Value() As Long
    Value = 42
End Property
