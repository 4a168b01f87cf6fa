# Every .ps1 of the repository and every ```powershell block of its Markdown pages, read by
# PowerShell's own parser: each must parse, and none may use what Windows PowerShell 5.1 does not
# understand (the operators ?:, ??, ??=, ?., ?[], && and ||, ForEach-Object -Parallel, clean
# blocks). Writes the JUnit report RESULTS/powershell_scripts.xml, one test case per script or
# block.
#   scripts/pwsh -NoProfile -File tests/fleet/parse-scripts.ps1 REPO_ROOT RESULTS
param([Parameter(Mandatory)] [string] $Root, [Parameter(Mandatory)] [string] $Results)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3

. $PSScriptRoot/Pwsh7Syntax.ps1

# The pieces to read: (name, text).
$pieces = [System.Collections.Generic.List[object]]::new()
Push-Location $Root
try {
  foreach ($file in @(git ls-files '*.ps1' | Sort-Object)) {
    $pieces.Add(@($file, (Get-Content -Raw -LiteralPath $file)))
  }
  foreach ($page in @(git ls-files '*.md' | Sort-Object)) {
    $lines = @(Get-Content -LiteralPath $page)
    $start = -1
    for ($i = 0; $i -lt $lines.Count; $i++) {
      if ($start -lt 0 -and $lines[$i] -match '^\s*```powershell\s*$') { $start = $i + 1 }
      elseif ($start -ge 0 -and $lines[$i] -match '^\s*```\s*$') {
        $pieces.Add(@("${page}:$start", ($lines[$start..($i - 1)] -join "`n")))
        $start = -1
      }
    }
  }
} finally {
  Pop-Location
}

$document = [System.Xml.XmlDocument]::new()
$suites = $document.AppendChild($document.CreateElement('testsuites'))
$suite = $suites.AppendChild($document.CreateElement('testsuite'))
$suite.SetAttribute('name', 'powershell_scripts')
$failures = 0
foreach ($piece in $pieces) {
  $tokens = $null
  $errors = $null
  $tree = [System.Management.Automation.Language.Parser]::ParseInput($piece[1], [ref]$tokens,
                                                                    [ref]$errors)
  $problems = @($errors | ForEach-Object { "line $($_.Extent.StartLineNumber): $($_.Message)" })
  $problems += @(Get-Pwsh7Only $tree)
  $case = $suite.AppendChild($document.CreateElement('testcase'))
  $case.SetAttribute('name', $piece[0])
  if ($problems.Count) {
    $failures++
    $failure = $case.AppendChild($document.CreateElement('failure'))
    $failure.SetAttribute('message', ($problems -join '; '))
    Write-Output "FAILED: $($piece[0]): $($problems -join '; ')"
  } else {
    Write-Output "ok: $($piece[0])"
  }
}
$suites.SetAttribute('tests', [string]$pieces.Count)
$suites.SetAttribute('failures', [string]$failures)
$suites.SetAttribute('disabled', '0')
$suites.SetAttribute('errors', '0')
$document.Save((Join-Path $Results 'powershell_scripts.xml'))
Write-Output "$($pieces.Count) scripts and blocks read, $failures failed"
if ($failures -or $pieces.Count -lt 2) { exit 1 }
exit 0
