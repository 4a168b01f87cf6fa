# Detection script for a Win32 app in Intune (or a script detection method in Configuration
# Manager): reports the Quorlan Windows Update Service as installed when Windows Installer knows a
# product of its UpgradeCode at this version or newer. Every release has a new ProductCode, so the
# UpgradeCode, which all releases share, is what finds it. Set $Wanted to the release deployed.
# Both tools read exit code 0 with a line on standard output as installed and exit code 0 with no
# output as not installed; Configuration Manager takes any other exit code as a failed script
# (detection state Unknown), so this always exits 0, and writes only when the product is there.
$UpgradeCode = '{6B0F3E52-9C4A-4E1D-8A47-2D5C93F1A0B8}'
$Wanted = [version]'1.0.2'

try {
  $installer = New-Object -ComObject WindowsInstaller.Installer
  foreach ($product in @($installer.RelatedProducts($UpgradeCode))) {
    $version = $null
    if ([version]::TryParse([string]$installer.ProductInfo($product, 'VersionString'),
                            [ref]$version) -and $version -ge $Wanted) {
      Write-Output "Quorlan Windows Update Service $version ($product)"
      break
    }
  }
} catch {
  # Windows Installer could not be asked: nothing is known to be installed.
  $null = $_
}
exit 0
