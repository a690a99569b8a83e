# Usage: .ci/check-zip.ps1 FOLDER
# Opens the visina zip in FOLDER, beside its .sha256 file, as a Windows user
# would: unpacks it as Extract All does, checks the download with the line
# that its README.txt gives, checks that it holds the program and README.txt
# alone and that the version Properties show is the zip's, and runs the tests
# on the unpacked program. Any failure stops it with an error.
param([Parameter(Mandatory)] [string] $Folder)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version Latest

$zips = @(Get-ChildItem -LiteralPath $Folder | Where-Object Name -Like 'visina-*-win64.zip')
if ($zips.Count -ne 1) { throw "Expected one visina zip in $Folder, found $($zips.Count)" }
$zip = $zips[0]
$version = $zip.Name -replace '^visina-(.+)-win64\.zip$', '$1'
$unpacked = Join-Path $zip.DirectoryName $zip.BaseName
Expand-Archive -LiteralPath $zip.FullName -DestinationPath $unpacked -Force

$held = @(Get-ChildItem -LiteralPath $unpacked -Recurse -Name | Sort-Object) -join ', '
Write-Output "$($zip.Name) holds: $held"
if ($held -ne 'README.txt, visina.exe') { throw "Expected README.txt and visina.exe alone" }

$check = @(Select-String -LiteralPath (Join-Path $unpacked 'README.txt') -SimpleMatch 'Get-FileHash')
if ($check.Count -ne 1) { throw "Expected one Get-FileHash line in README.txt" }
$line = $check[0].Line.Trim()
Push-Location $zip.DirectoryName
try { $answer = Invoke-Expression $line } finally { Pop-Location }
Write-Output "$line`n$answer"
if ("$answer" -ne 'True') { throw "README.txt's check did not print True" }

$exe = Join-Path $unpacked 'visina.exe'
$info = (Get-Item -LiteralPath $exe).VersionInfo
$info | Format-List ProductName, ProductVersion, FileVersion, FileDescription, OriginalFilename
if ($info.ProductVersion -ne $version -or $info.FileVersion -ne $version) {
    throw "Properties show version $($info.ProductVersion), the zip's name $version"
}

# Quoted, because PowerShell takes a bare -- as its own and drops it.
python tests/test_visina.py '--' $exe
if ($LASTEXITCODE -ne 0) { throw "The tests failed, with exit status $LASTEXITCODE" }
