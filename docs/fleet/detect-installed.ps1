# Detection script for a Win32 app in Intune (or a script detection method in Configuration
# Manager): reports the Quorlan Windows Update Service as installed when Windows Installer knows a
# product of its UpgradeCode at this version or newer. Every release has a new ProductCode, so the
# UpgradeCode, which all releases share, is what finds it. Set $Wanted to the release deployed.
$UpgradeCode = '{6B0F3E52-9C4A-4E1D-8A47-2D5C93F1A0B8}'
$Wanted = [version]'1.0.2'

$installer = New-Object -ComObject WindowsInstaller.Installer
foreach ($product in $installer.RelatedProducts($UpgradeCode)) {
  $version = [version]$installer.ProductInfo($product, 'VersionString')
  if ($version -ge $Wanted) {
    Write-Output "Quorlan Windows Update Service $version ($product)"
    exit 0
  }
}
exit 1
