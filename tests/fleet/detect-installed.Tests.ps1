# docs/fleet/detect-installed.ps1 as Intune and Configuration Manager run it: exit code 0 every
# time, and a line on standard output only when a product of the UpgradeCode is installed at the
# wanted version (1.0.2) or newer. Windows Installer's COM object, which exists on Windows only,
# is a fake that knows the products of each case.
Describe 'detect-installed.ps1' {
  BeforeAll {
    $script = "$PSScriptRoot/../../docs/fleet/detect-installed.ps1"
    $upgradeCode = '{6B0F3E52-9C4A-4E1D-8A47-2D5C93F1A0B8}'
    # New-Object's -ComObject is Windows-only: a stand-in with that parameter for the mock.
    function New-Object { param([string] $ComObject) }
    # An installer whose products of the UpgradeCode have these versions.
    function New-FakeInstaller([string[]] $Versions) {
      $products = @{}
      for ($i = 0; $i -lt $Versions.Count; $i++) {
        $products["{00000000-0000-0000-0000-00000000000$i}"] = $Versions[$i]
      }
      $installer = [pscustomobject]@{ Products = $products; Code = $upgradeCode }
      $installer | Add-Member ScriptMethod RelatedProducts {
        param($code)
        if ($code -eq $this.Code) { @($this.Products.Keys | Sort-Object) }
      }
      $installer | Add-Member ScriptMethod ProductInfo {
        param($product, $property)
        if ($property -ne 'VersionString') { throw "unknown property $property" }
        $this.Products[$product]
      }
      $installer
    }
  }

  It '<Case>: exit code 0, output "<Expected>"' -TestCases @(
    @{ Case = 'installed'; Versions = @('1.0.2')
       Expected = 'Quorlan Windows Update Service 1.0.2 ({00000000-0000-0000-0000-000000000000})' }
    @{ Case = 'newer'; Versions = @('1.1.0')
       Expected = 'Quorlan Windows Update Service 1.1.0 ({00000000-0000-0000-0000-000000000000})' }
    @{ Case = 'older'; Versions = @('1.0.1'); Expected = '' }
    @{ Case = 'missing'; Versions = @(); Expected = '' }
    @{ Case = 'an older and a newer'; Versions = @('0.9.0', '1.0.3')
       Expected = 'Quorlan Windows Update Service 1.0.3 ({00000000-0000-0000-0000-000000000001})' }
    @{ Case = 'a version Windows Installer garbled'; Versions = @('x'); Expected = '' }
  ) {
    $fake = New-FakeInstaller $Versions
    Mock New-Object { $fake } -ParameterFilter { $ComObject -eq 'WindowsInstaller.Installer' }
    $global:LASTEXITCODE = 99
    $output = @(& $script)
    $LASTEXITCODE | Should -Be 0
    ($output -join "`n") | Should -BeExactly $Expected
  }

  It 'Windows Installer cannot be asked: exit code 0, no output' {
    Mock New-Object { throw 'Class not registered' }
    $global:LASTEXITCODE = 99
    $output = @(& $script)
    $LASTEXITCODE | Should -Be 0
    $output.Count | Should -Be 0
  }
}
