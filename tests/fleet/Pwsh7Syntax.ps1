# What Windows PowerShell 5.1 does not understand, found in a parse tree: the syntax that
# PowerShell 7.0 added (?:, ??, ??=, ?., ?[], && and ||, ForEach-Object -Parallel) and 7.3's clean
# block.

# What in a parse tree needs PowerShell 7: a sentence for each node that does.
function Get-Pwsh7Only([System.Management.Automation.Language.Ast] $Tree) {
  $found = $Tree.FindAll({
      param($node)
      $node -is [System.Management.Automation.Language.TernaryExpressionAst] -or
      $node -is [System.Management.Automation.Language.PipelineChainAst] -or
      ($node -is [System.Management.Automation.Language.BinaryExpressionAst] -and
       $node.Operator -eq 'QuestionQuestion') -or
      ($node -is [System.Management.Automation.Language.AssignmentStatementAst] -and
       $node.Operator -eq 'QuestionQuestionEquals') -or
      ($node -is [System.Management.Automation.Language.MemberExpressionAst] -and
       $node.NullConditional) -or
      ($node -is [System.Management.Automation.Language.IndexExpressionAst] -and
       $node.NullConditional) -or
      ($node -is [System.Management.Automation.Language.ScriptBlockAst] -and
       $null -ne $node.CleanBlock) -or
      ($node -is [System.Management.Automation.Language.CommandAst] -and
       $node.GetCommandName() -in @('ForEach-Object', '%', 'foreach') -and
       @($node.CommandElements | Where-Object {
           $_ -is [System.Management.Automation.Language.CommandParameterAst] -and
           'Parallel' -like "$($_.ParameterName)*" -and $_.ParameterName.Length -ge 2 }).Count)
    }, $true)
  foreach ($node in $found) {
    "line $($node.Extent.StartLineNumber): '$($node.Extent.Text)' needs PowerShell 7"
  }
}
