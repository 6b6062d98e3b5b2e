# Detection script for Intune or Configuration Manager (Win32 app): tells a PC
# that holds the new speller from one that still needs the updater.
#
# It writes a line, and so reports the app installed, only when a proofing
# folder holds both new files, or an engine whose file version is higher than
# the new one's (the updater leaves such a PC as it is). In every other case it
# writes nothing, on stdout or stderr, and ends with 0: not installed. That
# includes an installed file that another program holds so that it cannot be
# read; the updater, run next, knows what to do with it.
#
# The release zip that "make dist PAIR=folder" makes carries this script with
# the values below filled in. By hand: the SHA-256 of each new file
# (Get-FileHash on Windows, sha256sum elsewhere; either case works), and the
# new engine's file version (Properties > Details) with its four parts, or ''
# when it has none.
#
# Needs Windows PowerShell 2.0 or later (Windows 7 and later, and Vista with
# it installed); XP has none that the tools use.
$new = @{
    'QUENDOR.DLL' = '@QUENDOR.DLL SHA-256@'
    'QUENDOR.LEX' = '@QUENDOR.LEX SHA-256@'
}
$newEngineVersion = '@QUENDOR.DLL version@'

# A version typed with fewer parts ("1.2") is 1.2.0.0, as Windows reads a
# file's version: [version]'1.2' would have build and revision -1, which
# every installed 1.2.0.0 would pass as newer.
function FourParts([string] $text) {
    $parts = @($text.Split('.') | ForEach-Object { [int] $_ })
    while ($parts.Count -lt 4) { $parts += 0 }
    New-Object System.Version $parts[0], $parts[1], $parts[2], $parts[3]
}

# Read with every sharing mode, so that only a holder that shares nothing
# stops it; SHA-256 from .NET, since Get-FileHash needs PowerShell 4.
function Sha256([string] $file) {
    $stream = [System.IO.File]::Open($file, 'Open', 'Read', 'ReadWrite, Delete')
    try {
        $sha = [System.Security.Cryptography.SHA256]::Create()
        ([System.BitConverter]::ToString($sha.ComputeHash($stream))).Replace('-', '')
    } finally {
        $stream.Dispose()
    }
}

try {
    $newVersion = $null
    if ($newEngineVersion) { $newVersion = FourParts $newEngineVersion }
    # 64-bit Windows: "Program Files (x86)" first, where the 32-bit suite is.
    foreach ($common in ${env:CommonProgramFiles(x86)}, $env:CommonProgramFiles) {
        if (-not $common) { continue }   # 32-bit Windows has no (x86) folder
        $proof = Join-Path $common 'Microsoft Shared\PROOF'
        $updated = $true
        foreach ($name in $new.Keys) {
            $file = Join-Path $proof $name
            if (-not (Test-Path -LiteralPath $file) -or (Sha256 $file) -ne $new[$name]) { $updated = $false }
        }
        if ($updated) { Write-Output "Actualizado: $proof"; exit 0 }
        # A newer engine is left as it is by the updater: up to date too.
        $engine = Join-Path $proof 'QUENDOR.DLL'
        if ($newVersion -and (Test-Path -LiteralPath $engine)) {
            $v = (Get-Item -LiteralPath $engine).VersionInfo
            $installed = New-Object System.Version $v.FileMajorPart, $v.FileMinorPart, $v.FileBuildPart, $v.FilePrivatePart
            if ($installed -gt $newVersion) { Write-Output "Motor posterior: $proof"; exit 0 }
        }
    }
} catch {
    # A file that cannot be read (another program holds it) is not known to be
    # the new one: not detected, and nothing on stderr, which the tools would
    # take for an unknown state.
}
exit 0
