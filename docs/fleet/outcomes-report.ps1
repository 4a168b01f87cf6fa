# One row per PC and Orvale device, from the outcome events that the subscription
# outcomes-subscription.xml forwarded into the collector's ForwardedEvents log: the newest outcome
# of each device, with its versions, and whether the device was seen at the package's version
# after a download (Confirmed). Run on the collector:
#   powershell -ExecutionPolicy Bypass -File outcomes-report.ps1 [-Csv outcomes.csv]
# or anywhere, over events exported as XML (wevtutil qe ForwardedEvents /f:xml, or a Wine
# scenario's events.xml):
#   pwsh -NoProfile -File outcomes-report.ps1 -EventXml events.xml
param([string] $Csv, [string] $EventXml)

$outcomes = @{ 1000 = 'downloaded'; 1001 = 'download failed'; 1002 = 'up to date';
               1003 = 'no device found'; 1004 = 'tool did not start'; 1005 = 'detached' }
if ($EventXml) {
  # Records with what the report reads of an EventLogRecord. wevtutil writes one <Event> after
  # the other, with no root element around them.
  $text = (Get-Content -Raw -LiteralPath $EventXml) -replace '^\s*<\?xml[^>]*\?>', ''
  $events = foreach ($node in ([xml]"<Events>$text</Events>").SelectNodes(
      "//*[local-name()='Event'][*[local-name()='System']/*[local-name()='Provider']" +
      "/@Name='OrvaleUpgradeOutcome']")) {
    [pscustomobject]@{
      Id          = [int]$node.System.EventID.'#text'
      MachineName = $node.System.Computer
      TimeCreated = [datetime]$node.System.TimeCreated.SystemTime
      Properties  = @($node.SelectNodes("*[local-name()='EventData']/*[local-name()='Data']") |
                      ForEach-Object { [pscustomobject]@{ Value = $_.InnerText } })
    }
  }
} else {
  $events = Get-WinEvent -LogName ForwardedEvents -ErrorAction SilentlyContinue `
    -FilterXPath "*[System[Provider[@Name='OrvaleUpgradeOutcome']]]"
}
# The service writes its strings without names, so they are read by position from Properties:
# serial number, version before, package version, package file, the tool's last line.
$rows = foreach ($e in $events) {
  $strings = @($e.Properties | ForEach-Object { [string]$_.Value })
  [pscustomobject]@{
    Computer = $e.MachineName
    Serial   = $strings[0]
    Outcome  = $outcomes[[int]$e.Id]
    Id       = [int]$e.Id
    Before   = $strings[1]
    Package  = $strings[2]
    File     = $strings[3]
    Time     = $e.TimeCreated
    LastLine = $strings[4]
  }
}
# The newest outcome of each device of each PC (a device not found has no serial number). A
# download is confirmed by an "up to date" run of the same device at the package's version: a
# device that comes back by itself is listed so before the download's own run reads its report.
$latest = $rows | Group-Object Computer, Serial | ForEach-Object {
  $newest = $_.Group | Sort-Object Time -Descending | Select-Object -First 1
  $seenAt = @($_.Group | Where-Object { $_.Id -eq 1002 } | ForEach-Object { $_.Before })
  $confirmed = 'no'
  if ($seenAt -contains $newest.Package) { $confirmed = 'yes' }
  $newest | Select-Object Computer, Serial, Outcome, Before, Package, File, Time,
    @{ n = 'Confirmed'; e = { $confirmed } }, LastLine
} | Sort-Object Computer, Serial
if ($Csv) { $latest | Export-Csv -NoTypeInformation -Path $Csv }
# As wide as the rows are, whatever the console's width: a column cut off would hide the tool's
# last line.
$latest | Format-Table Computer, Serial, Outcome, Before, Package, File, Time, Confirmed, LastLine `
  -AutoSize | Out-String -Width 1000 | ForEach-Object { $_.TrimEnd() }
