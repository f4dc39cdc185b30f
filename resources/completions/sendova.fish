# fish completion for sendova, sendova-tray and sendova-share

set -l commands upload screenshot login setup status recent logout help

complete -c sendova -f
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -l help -s h -d 'Show the help'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a upload -d 'Upload files, or the clipboard, and print their links'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a screenshot -d "Upload a screenshot taken with the desktop's tool"
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a login -d 'Sign in, or connect with an API key, and store the key'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a setup -d 'Configure from a sendova://setup link'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a status -d 'Test the connection'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a recent -d 'List recent uploads'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a logout -d 'Delete the settings, recent uploads and API key'
complete -c sendova -n "not __fish_seen_subcommand_from $commands" -a help -d 'Show the help of a command'

complete -c sendova -n "__fish_seen_subcommand_from $commands" -s h -l help -d 'Show the help of the command'
complete -c sendova -n "__fish_seen_subcommand_from upload" -F
complete -c sendova -n "__fish_seen_subcommand_from upload" -l clipboard -d 'Upload what the clipboard holds instead'
complete -c sendova -n "__fish_seen_subcommand_from upload screenshot login setup status" -l verbose -d 'Print the log on standard error'
complete -c sendova -n "__fish_seen_subcommand_from login" -l server -x -a 'https:// http://' -d "The server's address"
complete -c sendova -n "__fish_seen_subcommand_from login" -l user -x -d 'The user name'
complete -c sendova -n "__fish_seen_subcommand_from login" -l password-stdin -d 'Read the password from standard input'
complete -c sendova -n "__fish_seen_subcommand_from login" -l api-key-stdin -d 'Read an existing API key from standard input'
complete -c sendova -n "__fish_seen_subcommand_from login setup" -l insecure-storage -d 'Keep the API key in config.json instead of the keyring'
complete -c sendova -n "__fish_seen_subcommand_from setup" -a "'sendova://setup?token='" -d 'A one-time setup link'
complete -c sendova -n "__fish_seen_subcommand_from help" -a "$commands"

complete -c sendova-share -F
complete -c sendova-share -s h -l help -d 'Show the help'
complete -c sendova-share -l version -d 'Show the version'

complete -c sendova-tray -F
complete -c sendova-tray -s h -l help -d 'Show the help'
complete -c sendova-tray -l version -d 'Show the version'
