// A PowerShell host for the module's tests that answers each confirmation
// question by the computer it names: No for those to refuse, Yes for the
// others. Before it answers for a computer it can run a shell command (to
// break that computer's session between the read and the store). It keeps
// every question asked.
using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.Diagnostics;
using System.Globalization;
using System.Management.Automation;
using System.Management.Automation.Host;
using System.Security;

public sealed class AnswerHost : PSHost
{
    private readonly Guid id = Guid.NewGuid();
    private readonly AnswerHostInterface ui;

    public AnswerHost(string[] refused, Dictionary<string, string> commands)
    {
        ui = new AnswerHostInterface(refused, commands);
    }

    public List<string> Questions { get { return ui.Questions; } }
    public override string Name { get { return "AnswerHost"; } }
    public override Version Version { get { return new Version(1, 0); } }
    public override Guid InstanceId { get { return id; } }
    public override PSHostUserInterface UI { get { return ui; } }
    public override CultureInfo CurrentCulture { get { return CultureInfo.InvariantCulture; } }
    public override CultureInfo CurrentUICulture { get { return CultureInfo.InvariantCulture; } }
    public override void SetShouldExit(int exitCode) { }
    public override void EnterNestedPrompt() { throw new NotSupportedException(); }
    public override void ExitNestedPrompt() { throw new NotSupportedException(); }
    public override void NotifyBeginApplication() { }
    public override void NotifyEndApplication() { }
}

public sealed class AnswerHostInterface : PSHostUserInterface
{
    private readonly string[] refused;
    private readonly Dictionary<string, string> commands;
    public readonly List<string> Questions = new List<string>();

    public AnswerHostInterface(string[] refused, Dictionary<string, string> commands)
    {
        this.refused = refused;
        this.commands = commands;
    }

    public override int PromptForChoice(string caption, string message, Collection<ChoiceDescription> choices, int defaultChoice)
    {
        Questions.Add(message);
        string answer = "&Yes";
        foreach (string name in refused) {
            if (message.Contains("\"" + name + "\""))
                answer = "&No";
        }
        foreach (KeyValuePair<string, string> command in commands) {
            if (message.Contains("\"" + command.Key + "\""))
                Process.Start("/bin/sh", new[] { "-c", command.Value }).WaitForExit();
        }
        for (int index = 0; index < choices.Count; index++) {
            if (choices[index].Label == answer)
                return index;
        }
        throw new InvalidOperationException("The question has no answer " + answer + ": " + message);
    }

    public override PSHostRawUserInterface RawUI { get { return null; } }
    public override string ReadLine() { throw new NotSupportedException(); }
    public override SecureString ReadLineAsSecureString() { throw new NotSupportedException(); }
    public override void Write(string value) { }
    public override void Write(ConsoleColor foregroundColor, ConsoleColor backgroundColor, string value) { }
    public override void WriteLine(string value) { }
    public override void WriteErrorLine(string value) { }
    public override void WriteDebugLine(string message) { }
    public override void WriteProgress(long sourceId, ProgressRecord record) { }
    public override void WriteVerboseLine(string message) { }
    public override void WriteWarningLine(string message) { }

    public override Dictionary<string, PSObject> Prompt(string caption, string message, Collection<FieldDescription> descriptions)
    {
        throw new NotSupportedException();
    }

    public override PSCredential PromptForCredential(string caption, string message, string userName, string targetName)
    {
        throw new NotSupportedException();
    }

    public override PSCredential PromptForCredential(string caption, string message, string userName, string targetName,
                                                     PSCredentialTypes allowedCredentialTypes, PSCredentialUIOptions options)
    {
        throw new NotSupportedException();
    }
}
