VERSION 5.00
Begin VB.Form frmMain 
   Caption         =   "Inventory"
   ClientHeight    =   3090
   ClientLeft      =   60
   ClientTop       =   450
   ClientWidth     =   4680
   ScaleHeight     =   3090
   ScaleWidth      =   4680
   Begin VB.ListBox lstItems 
      Height          =   2205
      Left            =   120
      TabIndex        =   1
      Top             =   120
      Width           =   4455
   End
   Begin VB.CommandButton cmdAdd 
      Caption         =   "&Add"
      Height          =   375
      Left            =   3360
      TabIndex        =   0
      Top             =   2520
      Width           =   1215
   End
End
Attribute VB_Name = "frmMain"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = False
Attribute VB_PredeclaredId = True
Attribute VB_Exposed = False
Option Explicit

Private Sub Form_Load()
    LoadStock
    RefreshList
End Sub

Private Sub cmdAdd_Click()
    Dim sName As String
    sName = InputBox("Item name:", "Add item")
    If Len(sName) = 0 Then Exit Sub
    AddItem sName, 1
    RefreshList
End Sub

Private Sub RefreshList()
    Dim oItem As CItem
    lstItems.Clear
    For Each oItem In gItems
        lstItems.AddItem oItem.Describe
    Next
End Sub
