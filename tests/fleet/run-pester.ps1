# Runs the Pester suites beside this file (*.Tests.ps1) with Pester 5.7.1 and writes their JUnit
# report RESULTS/NAME.xml in the form scripts/test counts. Exit status 1 when a test failed, a
# suite could not run, or no test ran.
#   scripts/pwsh -NoProfile -File tests/fleet/run-pester.ps1 RESULTS NAME
param([Parameter(Mandatory)] [string] $Results, [Parameter(Mandatory)] [string] $Name)
Import-Module Pester -RequiredVersion 5.7.1
$config = New-PesterConfiguration
$config.Run.Path = $PSScriptRoot
$config.Run.PassThru = $true
$config.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $config

$failed = @($result.Tests | Where-Object { $_.Result -ne 'Passed' })
$document = [System.Xml.XmlDocument]::new()
$suites = $document.AppendChild($document.CreateElement('testsuites'))
foreach ($attribute in @(('tests', $result.Tests.Count), ('failures', $failed.Count),
                         ('disabled', 0), ('errors', $result.FailedContainersCount))) {
  $suites.SetAttribute($attribute[0], [string]$attribute[1])
}
$suite = $suites.AppendChild($document.CreateElement('testsuite'))
$suite.SetAttribute('name', $Name)
foreach ($test in $result.Tests) {
  $case = $suite.AppendChild($document.CreateElement('testcase'))
  $case.SetAttribute('classname', [System.IO.Path]::GetFileName($test.ScriptBlock.File))
  $case.SetAttribute('name', $test.ExpandedPath)
  if ($test.Result -ne 'Passed') {
    $failure = $case.AppendChild($document.CreateElement('failure'))
    $failure.SetAttribute('message', "$($test.Result): $($test.ErrorRecord)")
  }
}
$document.Save((Join-Path $Results "$Name.xml"))
if ($failed.Count -or $result.FailedContainersCount -or $result.Tests.Count -eq 0) { exit 1 }
exit 0
