' Custom action of the package (VBScript, run by Windows Installer at the
' start of an installation when the command line has not set START_SERVICE).
'
' Decides START_SERVICE: on an upgrade, the service runs again afterwards
' exactly when it ran before (the removal of the older package stops it);
' on a first installation it follows the package: "1" when an application is
' baked in (VL_START_DEFAULT).
'
' VBScript rather than JScript: Wine's WMI objects answer only the property
' reads that VBScript makes (method and get together), not JScript's.

Const SERVICE_NAME = "VelmoraneService"
Const ACTION_SUCCESS = 1

' True when the service is running, starting or resuming now; False when it
' is stopped, stopping, missing, or its state can't be read.
Function ServiceRunning()
    Dim wmi, state
    ServiceRunning = False
    On Error Resume Next
    Set wmi = CreateObject("WbemScripting.SWbemLocator").ConnectServer(".", "root\cimv2")
    state = wmi.Get("Win32_Service.Name='" & SERVICE_NAME & "'").State
    If Err.Number <> 0 Then Exit Function
    ServiceRunning = (state = "Running" Or state = "Start Pending" Or state = "Continue Pending")
End Function

Function DecideServiceStart()
    Dim start
    start = Session.Property("VL_START_DEFAULT")
    If Session.Property("WIX_UPGRADE_DETECTED") <> "" Then
        If ServiceRunning() Then start = "1" Else start = "0"
    End If
    Session.Property("START_SERVICE") = start
    DecideServiceStart = ACTION_SUCCESS
End Function
