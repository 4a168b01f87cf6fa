# docs/fleet/outcomes-report.ps1 over the recorded events of five Wine scenarios on four PCs, with
# Get-WinEvent answering from them as Windows would: one row per PC and device, every column as the
# scenario left it, the same rows on the screen and in -Csv.
Describe 'outcomes-report.ps1' {
  BeforeAll {
    . $PSScriptRoot/RecordedEvents.ps1
    $recorded = $env:QWUS_RECORDED_EVENTS
    $log = @(
      Get-RecordedEvent "$recorded/upgrade.xml" 'PC-0001'
      Get-RecordedEvent "$recorded/hostile-serial.xml" 'PC-0001' -Start '2026-12-01T10:00:00'
      Get-RecordedEvent "$recorded/manifest-wait-reset.xml" 'PC-0002'
      Get-RecordedEvent "$recorded/download-error.xml" 'PC-0003'
      Get-RecordedEvent "$recorded/absent.xml" 'PC-0004')
    # Windows' own Get-WinEvent, which PowerShell has on Windows only, for the mock to replace.
    function Get-WinEvent { param($LogName, $FilterXPath, $ErrorAction) }
    Mock Get-WinEvent { $log | Where-Object { Test-EventQuery $FilterXPath $_ } }
    $csv = Join-Path ([System.IO.Path]::GetTempPath()) "outcomes-report-$PID.csv"
    $report = "$PSScriptRoot/../../docs/fleet/outcomes-report.ps1"
    $table = & $report -Csv $csv | Out-String -Width 400
    $rows = @(Import-Csv -LiteralPath $csv)
    Remove-Item -LiteralPath $csv
  }
  It 'reads the outcome events of the ForwardedEvents log' {
    Should -Invoke Get-WinEvent -Times 1 -Exactly -Scope Describe -ParameterFilter {
      $LogName -eq 'ForwardedEvents' }
    ($log | Where-Object ProviderName -eq 'OrvaleUpgradeOutcome').Count | Should -Be 9
    $log.Count | Should -BeGreaterThan 100
  }

  It 'gives one row per PC and device' {
    $rows.Count | Should -Be 5
  }

  # What each scenario did: the device's newest outcome, and whether it came back at the package's
  # version after its download.
  It '<Computer> <Serial>: <Outcome>' -TestCases @(
    @{ Computer = 'PC-0001'; Serial = 'A7 X\ 22 -U C:\x.bin\'; Outcome = 'downloaded'
       Before = '0100'; Confirmed = 'yes'; LastLine = 'Done!' }
    @{ Computer = 'PC-0001'; Serial = 'A7X2249'; Outcome = 'downloaded'; Before = '0100'
       Confirmed = 'yes'; LastLine = 'Done!' }
    @{ Computer = 'PC-0002'; Serial = 'A7X2249'; Outcome = 'downloaded'; Before = '0100'
       Confirmed = 'no'; LastLine = 'Done!' }
    @{ Computer = 'PC-0003'; Serial = 'A7X2249'; Outcome = 'download failed'; Before = '0100'
       Confirmed = 'no'
       LastLine = 'DFU state(10) = dfuERROR, status(3) = Device is unable to write memory' }
    @{ Computer = 'PC-0004'; Serial = ''; Outcome = 'no device found'; Before = ''
       Confirmed = 'no'; LastLine = 'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/' }
  ) {
    $row = @($rows | Where-Object { $_.Computer -eq $Computer -and $_.Serial -eq $Serial })
    $row.Count | Should -Be 1
    $row[0].Outcome | Should -BeExactly $Outcome
    $row[0].Before | Should -BeExactly $Before
    $row[0].Package | Should -BeExactly '0102'
    $row[0].File | Should -BeExactly 'orvale-0102.dfu'
    $row[0].Confirmed | Should -BeExactly $Confirmed
    $row[0].LastLine | Should -BeExactly $LastLine
    [datetime]$row[0].Time | Should -BeOfType [datetime]
    $table | Should -Match ('(?m)^' + [regex]::Escape($Computer) + ' +' + [regex]::Escape($Serial))
  }

  It 'reads an XML export of the events alike, with or without a root element' {
    $export = Join-Path ([System.IO.Path]::GetTempPath()) "outcomes-export-$PID.xml"
    $xml = Get-Content -Raw -LiteralPath "$recorded/hostile-serial.xml"
    # As wevtutil qe /f:xml writes them: the events one after the other.
    $bare = $xml -replace '^<\?xml[^>]*\?>\s*<Events[^>]*>', '' -replace '</Events>\s*$', ''
    foreach ($text in @($xml, $bare)) {
      Set-Content -LiteralPath $export -Value $text
      & $report -EventXml $export -Csv $csv | Out-Null
      $exported = @(Import-Csv -LiteralPath $csv)
      $exported.Count | Should -Be 1
      $expected = $rows | Where-Object { $_.Serial -eq $exported[0].Serial }
      foreach ($column in 'Serial', 'Outcome', 'Before', 'Package', 'File', 'Confirmed', 'LastLine') {
        $exported[0].$column | Should -BeExactly $expected.$column
      }
      $exported[0].Computer | Should -BeExactly 'PC-0001.fleet.example'
    }
    Remove-Item -LiteralPath $export, $csv
  }

  It 'prints the columns' {
    $table | Should -Match 'Computer +Serial +Outcome +Before +Package +File +Time +Confirmed +LastLine'
  }
}
