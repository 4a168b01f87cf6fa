# Get-Pwsh7Only, which keeps the fleet's scripts to Windows PowerShell 5.1: each construct that
# PowerShell 7 added is found (PowerShell's "What's New" pages for 7.0 and 7.3 name them), and the
# 5.1 forms that look alike are not.
BeforeAll {
  . $PSScriptRoot/Pwsh7Syntax.ps1
  function Get-Finding([string] $Text) {
    $tokens = $null
    $errors = $null
    $tree = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens,
                                                                      [ref]$errors)
    $errors.Count | Should -Be 0
    @(Get-Pwsh7Only $tree)
  }
}

Describe 'Get-Pwsh7Only' {
  It 'finds <Text>' -TestCases @(
    @{ Text = '$a ? 1 : 2' }
    @{ Text = '$a ?? 1' }
    @{ Text = '$a ??= 1' }
    @{ Text = '${a}?.b' }
    @{ Text = '${a}?[0]' }
    @{ Text = 'git fetch && git status' }
    @{ Text = 'Test-Path x || exit 1' }
    @{ Text = '1..3 | ForEach-Object -Parallel { $_ }' }
    @{ Text = '1..3 | % -Pa { $_ }' }
    @{ Text = 'function f { process { $_ } clean { } }' }
  ) {
    (Get-Finding $Text).Count | Should -Be 1
  }

  It 'leaves <Text> alone' -TestCases @(
    @{ Text = 'if ($a) { 1 } else { 2 }' }
    @{ Text = '$a.b; $a[0]; $h.Keys' }
    @{ Text = 'if ($a -and $b -or $c) { }' }
    @{ Text = '1..3 | ForEach-Object -Process { $_ }' }
    @{ Text = '1..3 | ForEach-Object -PipelineVariable p { $_ }' }
    @{ Text = 'Write-Output "a ? b" ; Write-Output ''x && y''' }
  ) {
    (Get-Finding $Text).Count | Should -Be 0
  }
}
