# Detection script for Intune Remediations, for PCs that Intune manages without a domain: one line
# per Orvale device of this PC, which Intune shows as the script's output in its report for the
# PC. Each line gives the firmware an attached device runs as Windows itself knows it (the REV_xxxx
# of its hardware ids), and the device's newest outcome event with its versions and time. Exit
# code 1 (Intune: "with issues") when a device's newest outcome asks for an administrator: the
# download failed (1001), dfu-util.exe did not start (1004), or the device was detached (1005) and
# is not back in DFU mode. Exit code 0 otherwise. It changes nothing: no remediation script goes
# with it. Runs as SYSTEM, 64-bit, under Windows PowerShell 5.1.
$outcomes = @{ 1000 = 'downloaded'; 1001 = 'download failed'; 1002 = 'up to date';
               1003 = 'no device found'; 1004 = 'tool did not start'; 1005 = 'detached' }

# The attached Orvale devices by serial number, as Windows enumerated them: the USB hub driver's
# hardware id USB\VID_C4E2&PID_8351&REV_0102 carries idProduct and bcdDevice, and the instance id
# USB\VID_C4E2&PID_8351\A7X2249 the serial number.
$attached = @{}
foreach ($device in @(Get-PnpDevice -PresentOnly -ErrorAction SilentlyContinue)) {
  foreach ($id in @($device.HardwareID)) {
    if ($id -match '^USB\\VID_C4E2&PID_(8351|8352)&REV_([0-9A-Fa-f]{4})$') {
      $mode = 'runtime'
      if ($Matches[1] -eq '8352') { $mode = 'DFU' }
      $serial = ($device.InstanceId -split '\\')[-1]
      $attached[$serial] = "$mode mode, firmware $($Matches[2].ToLower()) (REV_$($Matches[2]))"
    }
  }
}

# The newest outcome of each device by serial number (a run that found no device has none).
$newest = @{}
$events = @(Get-WinEvent -ErrorAction SilentlyContinue -FilterHashtable @{
    LogName = 'Application'; ProviderName = 'OrvaleUpgradeOutcome' })
foreach ($record in $events) {
  $serial = [string]$record.Properties[0].Value
  if (-not $newest.ContainsKey($serial) -or $record.TimeCreated -gt $newest[$serial].TimeCreated) {
    $newest[$serial] = $record
  }
}

$issue = $false
$serials = @(@($attached.Keys) + @($newest.Keys) | Sort-Object -Unique)
foreach ($serial in $serials) {
  $name = $serial
  if ($name -eq '') { $name = '(no serial number)' }
  $line = "Orvale $name"
  if ($attached.ContainsKey($serial)) { $line += ": $($attached[$serial])" }
  else { $line += ': not attached' }
  $record = $newest[$serial]
  if ($null -eq $record) {
    $line += '; no outcome event'
  } else {
    $strings = @($record.Properties | ForEach-Object { [string]$_.Value })
    $line += "; newest outcome $($record.Id) $($outcomes[[int]$record.Id]), $($strings[1]) -> " +
             "$($strings[2]) ($($strings[3])), $($record.TimeCreated.ToString('yyyy-MM-dd HH:mm:ss'))"
    $back = $attached.ContainsKey($serial) -and $attached[$serial].StartsWith('DFU')
    if ($record.Id -eq 1001 -or $record.Id -eq 1004 -or ($record.Id -eq 1005 -and -not $back)) {
      $issue = $true
    }
  }
  Write-Output $line
}
if ($serials.Count -eq 0) { Write-Output 'No Orvale device attached, and no outcome event' }
if ($issue) { exit 1 }
exit 0
