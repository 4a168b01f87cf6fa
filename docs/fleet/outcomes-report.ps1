# One row per PC and Orvale device, from the outcome events that the subscription
# outcomes-subscription.xml forwarded into the collector's ForwardedEvents log: the last outcome of
# each device, with its versions. Run on the collector:
#   powershell -ExecutionPolicy Bypass -File outcomes-report.ps1 [-Csv outcomes.csv]
param([string] $Csv)

$outcomes = @{ 1000 = 'downloaded'; 1001 = 'download failed'; 1002 = 'up to date';
               1003 = 'no device found'; 1004 = 'tool did not start'; 1005 = 'detached' }
$events = Get-WinEvent -LogName ForwardedEvents -ErrorAction SilentlyContinue `
  -FilterXPath "*[System[Provider[@Name='OrvaleUpgradeOutcome']]]"
$rows = foreach ($e in $events) {
  $data = ([xml]$e.ToXml()).Event.EventData.Data
  [pscustomobject]@{
    Computer = $e.MachineName
    Serial   = $data[0].'#text'
    Outcome  = $outcomes[[int]$e.Id]
    Before   = $data[1].'#text'
    Package  = $data[2].'#text'
    File     = $data[3].'#text'
    Time     = $e.TimeCreated
    LastLine = $data[4].'#text'
  }
}
# The newest outcome of each device of each PC (a device not found has no serial number).
$latest = $rows | Sort-Object Time -Descending | Group-Object Computer, Serial |
  ForEach-Object { $_.Group[0] } | Sort-Object Computer, Serial
if ($Csv) { $latest | Export-Csv -NoTypeInformation -Path $Csv }
$latest | Format-Table Computer, Serial, Outcome, Before, Package, File, Time, LastLine -AutoSize
