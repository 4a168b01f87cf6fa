# Event records as Get-WinEvent returns them (EventLogRecord: Id, ProviderName, MachineName,
# TimeCreated, Properties with each string's Value, ToXml()), made from the event XML that a Wine
# scenario's events render to (fleet_query_test.py), for the fleet scripts' Pester tests.

# The records of one scenario's events, as logged by the PC named MachineName, one second apart
# from Start on.
function Get-RecordedEvent {
  param([string] $Path, [string] $MachineName, [datetime] $Start = '2026-12-01T09:00:00')
  $namespace = 'http://schemas.microsoft.com/win/2004/08/events/event'
  $document = [xml](Get-Content -Raw -LiteralPath $Path)
  $names = [System.Xml.XmlNamespaceManager]::new($document.NameTable)
  $names.AddNamespace('e', $namespace)
  foreach ($event in $document.SelectNodes('/e:Events/e:Event', $names)) {
    $event.SelectSingleNode('e:System/e:Computer', $names).InnerText = $MachineName
    $recordId = [int]$event.SelectSingleNode('e:System/e:EventRecordID', $names).InnerText
    $xml = $event.OuterXml
    $record = [pscustomobject]@{
      Id           = [int]$event.SelectSingleNode('e:System/e:EventID', $names).InnerText
      ProviderName = $event.SelectSingleNode('e:System/e:Provider', $names).GetAttribute('Name')
      MachineName  = $MachineName
      TimeCreated  = $Start.AddSeconds($recordId)
      RecordId     = $recordId
      Properties   = @($event.SelectNodes('e:EventData/e:Data', $names) |
                       ForEach-Object { [pscustomobject]@{ Value = $_.InnerText } })
    }
    $record | Add-Member -MemberType ScriptMethod -Name ToXml -Value { $xml }.GetNewClosure()
    $record
  }
}

# Whether an event query's XPath selects a record, as Windows evaluates it: on the event without
# its namespace.
function Test-EventQuery {
  param([string] $XPath, $Record)
  $plain = [xml]($Record.ToXml() -replace ' xmlns="[^"]*"', '')
  $null -ne $plain.SelectSingleNode('/' + $XPath)
}
