# docs/fleet/remediation-detect.ps1 on PCs left as Wine scenarios left them: Get-WinEvent answers
# from a scenario's recorded outcome events, Get-PnpDevice with the ids that Windows builds from
# the emulated device's descriptors (pnp-devices.txt). One line per device; exit code 1 only when
# a device's newest outcome asks for an administrator.
Describe 'remediation-detect.ps1' {
  BeforeAll {
    . $PSScriptRoot/RecordedEvents.ps1
    $recorded = $env:QWUS_RECORDED_EVENTS
    $script = "$PSScriptRoot/../../docs/fleet/remediation-detect.ps1"
    $pnp = @{}
    foreach ($line in Get-Content -LiteralPath "$recorded/pnp-devices.txt") {
      $name, $revision, $plain, $instance = $line -split "`t"
      $pnp[$name] = [pscustomobject]@{ HardwareID = @($revision, $plain); InstanceId = $instance
                                       Status = 'OK'; Class = 'USBDevice' }
    }
    # Windows' own Get-WinEvent and Get-PnpDevice, absent here, for the mocks to replace.
    function Get-WinEvent { param($FilterHashtable, $ErrorAction) }
    function Get-PnpDevice { param([switch] $PresentOnly, $ErrorAction) }
  }

  It '<Case>: exit code <Status>' -TestCases @(
    @{ Case = 'upgraded'; Events = 'upgrade'; Devices = @('runtime-0102'); Status = 0
       Lines = @('Orvale A7X2249: runtime mode, firmware 0102 (REV_0102); newest outcome 1000 ' +
                 'downloaded, 0100 -> 0102 (orvale-0102.dfu), 2026-12-01 09:01:58') }
    @{ Case = 'download failed, left in DFU mode'; Events = 'download-error'
       Devices = @('dfu-0100'); Status = 1
       Lines = @('Orvale A7X2249: DFU mode, firmware 0100 (REV_0100); newest outcome 1001 ' +
                 'download failed, 0100 -> 0102 (orvale-0102.dfu), 2026-12-01 09:00:54') }
    @{ Case = 'detached, never back in DFU mode'; Events = 'detach-on-reset'
       Devices = @('runtime-0100'); Status = 1
       Lines = @('Orvale A7X2249: runtime mode, firmware 0100 (REV_0100); newest outcome 1005 ' +
                 'detached, 0100 -> 0102 (orvale-0102.dfu), 2026-12-01 09:00:39') }
    @{ Case = 'detached, back in DFU mode'; Events = 'detach-on-reset'; Devices = @('dfu-0100')
       Status = 0
       Lines = @('Orvale A7X2249: DFU mode, firmware 0100 (REV_0100); newest outcome 1005 ' +
                 'detached, 0100 -> 0102 (orvale-0102.dfu), 2026-12-01 09:00:39') }
    @{ Case = 'no device found, none attached'; Events = 'absent'; Devices = @(); Status = 0
       Lines = @('Orvale (no serial number): not attached; newest outcome 1003 no device found, ' +
                 ' -> 0102 (orvale-0102.dfu), 2026-12-01 09:00:32') }
    @{ Case = 'attached, no outcome yet'; Events = $null; Devices = @('runtime-0100'); Status = 0
       Lines = @('Orvale A7X2249: runtime mode, firmware 0100 (REV_0100); no outcome event') }
    @{ Case = 'nothing'; Events = $null; Devices = @(); Status = 0
       Lines = @('No Orvale device attached, and no outcome event') }
  ) {
    $log = @()
    if ($Events) {
      $log = @(Get-RecordedEvent "$recorded/$Events.xml" 'PC-0001' |
               Where-Object ProviderName -eq 'OrvaleUpgradeOutcome')
    }
    $present = @($Devices | ForEach-Object { $pnp[$_] })
    Mock Get-WinEvent { $log } -ParameterFilter {
      $FilterHashtable.LogName -eq 'Application' -and
      $FilterHashtable.ProviderName -eq 'OrvaleUpgradeOutcome' }
    Mock Get-PnpDevice { $present } -ParameterFilter { $PresentOnly }
    $global:LASTEXITCODE = 99
    $output = @(& $script)
    $LASTEXITCODE | Should -Be $Status
    $output | Should -BeExactly $Lines
  }
}
