# Every relative link of README.md and docs/*.md resolves: the file exists,
# and an anchor names a heading of that file as GitHub makes its anchors.
# The README stays the short front door. Ends with one line; exit 1 on a
# broken link.
param([string] $Root = (Join-Path $PSScriptRoot '../..'))
$ErrorActionPreference = 'Stop'
$kReadmeMaxLines = 150

# Text outside fenced code blocks, with inline code removed.
function Get-ProseLine([string] $Path) {
    $fenced = $false
    foreach ($line in [System.IO.File]::ReadAllLines($Path)) {
        if ($line -match '^\s*```') {
            $fenced = -not $fenced
        } elseif (-not $fenced) {
            $line -replace '`[^`]*`', ''
        }
    }
}

# GitHub's anchors: lower case, punctuation dropped, spaces as hyphens, a
# repeated heading numbered from -1.
function Get-Anchor([string] $Path) {
    $seen = @{}
    foreach ($line in [System.IO.File]::ReadAllLines($Path)) {
        if ($line -notmatch '^#{1,6}\s+(.+?)\s*$') {
            continue
        }
        $anchor = ($Matches[1].ToLowerInvariant() -replace '[^\p{L}\p{Nd}\p{Mn}_ -]', '') -replace ' ', '-'
        if ($seen.ContainsKey($anchor)) {
            $seen[$anchor]++
            "$anchor-$($seen[$anchor])"
        } else {
            $seen[$anchor] = 0
            $anchor
        }
    }
}

$documents = @(Get-Item -LiteralPath (Join-Path $Root 'README.md')) + @(Get-ChildItem -LiteralPath (Join-Path $Root 'docs') -Filter '*.md')
$count = 0
$broken = 0
foreach ($document in $documents) {
    foreach ($match in [regex]::Matches((@(Get-ProseLine $document.FullName) -join "`n"), '\]\(([^)\s]+)\)')) {
        $target = $match.Groups[1].Value
        if ($target -match '^[a-z]+:') {
            continue
        }
        $count++
        $file, $anchor = $target -split '#', 2
        $path = if ($file) { [System.IO.Path]::GetFullPath((Join-Path $document.DirectoryName $file)) } else { $document.FullName }
        $problem = if (-not (Test-Path -LiteralPath $path)) {
            'no such file'
        } elseif ($anchor -and $path -like '*.md' -and (Get-Anchor $path) -cnotcontains $anchor) {
            'no such heading'
        }
        if ($problem) {
            $broken++
            "$($document.Name): $target`: $problem"
        }
    }
}
$readmeLines = [System.IO.File]::ReadAllLines((Join-Path $Root 'README.md')).Count
if ($readmeLines -gt $kReadmeMaxLines) {
    $broken++
    "README.md: $readmeLines lines, more than $kReadmeMaxLines"
}
"Documents: $count links, $broken broken"
if ($broken -gt 0) {
    exit 1
}
