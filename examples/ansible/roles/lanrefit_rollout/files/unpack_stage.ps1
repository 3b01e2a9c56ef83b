# Unpacks the staged archive in the work folder of a Windows server: every file
# of the manifest whose copy is missing or differs is taken from the archive,
# then every copy is checked against the manifest again. Run by win_powershell;
# in check mode (WhatIf) it only tells what it would take. $Ansible.Result
# holds stale (the files taken, or to take) and bad (copies that still differ,
# which fail the task).
[CmdletBinding(SupportsShouldProcess)]
param(
    # The work folder, e.g. C:\lanrefit.
    [Parameter(Mandatory)][string]$WorkDir,
    # The archive, already copied into the work folder.
    [Parameter(Mandatory)][string]$Archive,
    # Name below the work folder ("/" between folders) -> SHA-256, lower case.
    [Parameter(Mandatory)][System.Collections.IDictionary]$Manifest
)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false

function Get-StaleName {
    foreach ($name in @($Manifest.Keys | Sort-Object)) {
        $path = Join-Path -Path $WorkDir -ChildPath ($name -replace '/', '\')
        $sum = $null
        if (Test-Path -LiteralPath $path -PathType Leaf) {
            $sum = (Get-FileHash -LiteralPath $path -Algorithm SHA256).Hash.ToLowerInvariant()
        }
        if ($sum -ne $Manifest[$name]) { $name }
    }
}

foreach ($name in $Manifest.Keys) {
    if ($name -match '(^|/)\.\.(/|$)' -or $name -match '^[/\\]' -or $name -match '[:\\]' -or $name -match '//') {
        throw "manifest entry leaves the work folder: $name"
    }
}
$stale = @(Get-StaleName)
$bad = @()
if ($stale.Count -gt 0 -and $PSCmdlet.ShouldProcess($WorkDir, "unpack $($stale.Count) files of $Archive")) {
    Add-Type -AssemblyName System.IO.Compression.FileSystem
    $zip = [System.IO.Compression.ZipFile]::OpenRead($Archive)
    try {
        foreach ($name in $stale) {
            $entry = $zip.GetEntry($name)
            if ($null -eq $entry) { throw "$name is not in $Archive" }
            $path = Join-Path -Path $WorkDir -ChildPath ($name -replace '/', '\')
            $null = New-Item -ItemType Directory -Force -Path (Split-Path -Path $path -Parent)
            [System.IO.Compression.ZipFileExtensions]::ExtractToFile($entry, $path, $true)
        }
    }
    finally {
        $zip.Dispose()
    }
    $bad = @(Get-StaleName)
}
$Ansible.Result = @{ stale = $stale; bad = $bad }
if ($bad.Count -gt 0) {
    throw "staged files differ from the manifest: $($bad -join ', ')"
}
