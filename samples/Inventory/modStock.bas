Attribute VB_Name = "modStock"
Option Explicit

Public gItems As Collection

Public Sub LoadStock()
    Set gItems = New Collection
    AddItem "Screws", 250
    AddItem "Washers", 120
End Sub

Public Sub AddItem(ByVal sName As String, ByVal lQuantity As Long)
    Dim oItem As CItem
    Set oItem = New CItem
    oItem.Name = sName
    oItem.Quantity = lQuantity
    gItems.Add oItem, sName
End Sub
