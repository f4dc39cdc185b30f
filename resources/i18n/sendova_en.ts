<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="dropzone.drag_files">
        <source>Drop a file here</source>
        <translation>Drop a file here</translation>
    </message>
    <message id="dropzone.or_browse">
        <source>or click to choose one, or paste with Ctrl+V</source>
        <translation>or click to choose one, or paste with Ctrl+V</translation>
    </message>
    <message id="error.clipboard.empty">
        <source>The clipboard holds nothing to upload: copy a file, an image or some text first.</source>
        <translation>The clipboard holds nothing to upload: copy a file, an image or some text first.</translation>
    </message>
    <message id="error.clipboard.unreadable_image">
        <source>The image on the clipboard could not be read: copy it again, or save it as a file and upload that.</source>
        <translation>The image on the clipboard could not be read: copy it again, or save it as a file and upload that.</translation>
    </message>
    <message id="error.connection_failed">
        <source>Could not connect to the server</source>
        <translation>Could not connect to the server</translation>
    </message>
    <message id="error.file.folder">
        <source>%1 is a folder; only files can be uploaded.</source>
        <translation>%1 is a folder; only files can be uploaded.</translation>
    </message>
    <message id="error.file.no_permission">
        <source>You do not have permission to read %1.</source>
        <translation>You do not have permission to read %1.</translation>
    </message>
    <message id="error.file.not_found">
        <source>The file %1 could not be found.</source>
        <translation>The file %1 could not be found.</translation>
    </message>
    <message id="error.file.not_regular">
        <source>%1 is not an ordinary file; only files can be uploaded.</source>
        <translation>%1 is not an ordinary file; only files can be uploaded.</translation>
    </message>
    <message id="error.file.unreadable">
        <source>The file %1 could not be read.</source>
        <translation>The file %1 could not be read.</translation>
    </message>
    <message id="error.file.write_failed">
        <source>Could not write %1.</source>
        <translation>Could not write %1.</translation>
    </message>
    <message id="error.file_changed">
        <source>%1 changed while it was being uploaded, so it was not stored. Upload it again.</source>
        <translation>%1 changed while it was being uploaded, so it was not stored. Upload it again.</translation>
    </message>
    <message id="error.invalid_credentials">
        <source>Incorrect user name or password</source>
        <translation>Incorrect user name or password</translation>
    </message>
    <message id="error.invalid_response">
        <source>The server sent an invalid response</source>
        <translation>The server sent an invalid response</translation>
    </message>
    <message id="error.invalid_url">
        <source>The server address is not valid</source>
        <translation>The server address is not valid</translation>
    </message>
    <message id="error.net.cancelled">
        <source>The transfer to %1 was cancelled.</source>
        <translation>The transfer to %1 was cancelled.</translation>
    </message>
    <message id="error.net.certificate_untrusted">
        <source>The security certificate of %1 is not trusted.</source>
        <translation>The security certificate of %1 is not trusted.</translation>
    </message>
    <message id="error.net.connection_cut">
        <source>The connection to %1 was cut.</source>
        <translation>The connection to %1 was cut.</translation>
    </message>
    <message id="error.net.name_not_found">
        <source>The server name %1 could not be found.</source>
        <translation>The server name %1 could not be found.</translation>
    </message>
    <message id="error.net.not_http">
        <source>%1 did not answer like a web server.</source>
        <translation>%1 did not answer like a web server.</translation>
    </message>
    <message id="error.net.refused">
        <source>The server %1 refused the connection.</source>
        <translation>The server %1 refused the connection.</translation>
    </message>
    <message id="error.net.secure_connection_failed">
        <source>A secure connection to %1 could not be established.</source>
        <translation>A secure connection to %1 could not be established.</translation>
    </message>
    <message id="error.net.timed_out">
        <source>The server %1 took too long to answer.</source>
        <translation>The server %1 took too long to answer.</translation>
    </message>
    <message id="error.net.too_large">
        <source>The reply from %1 was too large to read.</source>
        <translation>The reply from %1 was too large to read.</translation>
    </message>
    <message id="error.net.unreachable">
        <source>Could not reach the server %1.</source>
        <translation>Could not reach the server %1.</translation>
    </message>
    <message id="error.network_error">
        <source>Network error: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message id="error.save_failed">
        <source>Error saving configuration: %1</source>
        <translation>Error saving configuration: %1</translation>
    </message>
    <message id="error.screenshot.failed">
        <source>The desktop could not take the screenshot.</source>
        <translation>The desktop could not take the screenshot.</translation>
    </message>
    <message id="error.server_error">
        <source>Server error (%1)</source>
        <translation>Server error (%1)</translation>
    </message>
    <message id="error.server_refused">
        <source>The server refused the upload.</source>
        <translation>The server refused the upload.</translation>
    </message>
    <message id="error.tenant_inactive">
        <source>This account is inactive</source>
        <translation>This account is inactive</translation>
    </message>
    <message id="error.token_invalid">
        <source>The setup link is invalid or has expired</source>
        <translation>The setup link is invalid or has expired</translation>
    </message>
    <message id="error.upload.too_large">
        <source>%1 is larger than the server's limit of %2.</source>
        <translation>%1 is larger than the server's limit of %2.</translation>
    </message>
    <message id="field.secret.hide">
        <source>Hide</source>
        <translation>Hide</translation>
    </message>
    <message id="field.secret.show">
        <source>Show</source>
        <translation>Show</translation>
    </message>
    <message id="menu.clear">
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message id="menu.dismiss">
        <source>Dismiss</source>
        <translation>Dismiss</translation>
    </message>
    <message id="menu.error">
        <source>Upload failed</source>
        <translation>Upload failed</translation>
    </message>
    <message id="menu.quit">
        <source>Quit Sendova</source>
        <translation>Quit Sendova</translation>
    </message>
    <message id="menu.recent">
        <source>Recent uploads</source>
        <translation>Recent uploads</translation>
    </message>
    <message id="menu.report_error">
        <source>Report problem</source>
        <translation>Report problem</translation>
    </message>
    <message id="menu.settings">
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message id="menu.try_again">
        <source>Try again</source>
        <translation>Try again</translation>
    </message>
    <message id="notification.duplicate.body">
        <source>%1 was already uploaded. The link is ready.</source>
        <translation>%1 was already uploaded. The link is ready.</translation>
    </message>
    <message id="notification.duplicate.press_copy">
        <source>%1 was already uploaded. Link ready — press Copy</source>
        <translation>%1 was already uploaded. Link ready — press Copy</translation>
    </message>
    <message id="notification.duplicate.title">
        <source>Already uploaded</source>
        <translation>Already uploaded</translation>
    </message>
    <message id="notification.error.body">
        <source>%1 could not be uploaded: %2</source>
        <translation>%1 could not be uploaded: %2</translation>
    </message>
    <message id="notification.error.title">
        <source>Upload failed</source>
        <translation>Upload failed</translation>
    </message>
    <message id="notification.upload_complete.body">
        <source>%1 was uploaded. The link is ready.</source>
        <translation>%1 was uploaded. The link is ready.</translation>
    </message>
    <message id="notification.upload_complete.press_copy">
        <source>%1 was uploaded. Link ready — press Copy</source>
        <translation>%1 was uploaded. Link ready — press Copy</translation>
    </message>
    <message id="notification.upload_complete.title">
        <source>Upload complete</source>
        <translation>Upload complete</translation>
    </message>
    <message id="result.button.copy">
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message id="result.button.ok">
        <source>Done</source>
        <translation>Done</translation>
    </message>
    <message id="result.button.open">
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message id="result.button.qr_code">
        <source>Show QR code</source>
        <translation>Show QR code</translation>
    </message>
    <message id="result.duplicate.title">
        <source>Already uploaded</source>
        <translation>Already uploaded</translation>
    </message>
    <message id="result.success.title">
        <source>Upload complete</source>
        <translation>Upload complete</translation>
    </message>
    <message id="result.url.copied">
        <source>Link copied to the clipboard</source>
        <translation>Link copied to the clipboard</translation>
    </message>
    <message id="result.url.label">
        <source>Public link</source>
        <translation>Public link</translation>
    </message>
    <message id="result.url.press_copy">
        <source>Link ready — press Copy</source>
        <translation>Link ready — press Copy</translation>
    </message>
    <message id="server.override_note">
        <source>Requests go to %1 (SENDOVA_SERVER)</source>
        <translation>Requests go to %1 (SENDOVA_SERVER)</translation>
    </message>
    <message id="settings.api_key.label">
        <source>API key</source>
        <translation>API key</translation>
    </message>
    <message id="settings.button.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="settings.button.close">
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message id="settings.button.logout">
        <source>Sign out and delete data</source>
        <translation>Sign out and delete data</translation>
    </message>
    <message id="settings.button.save">
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message id="settings.button.test_connection">
        <source>Test connection</source>
        <translation>Test connection</translation>
    </message>
    <message id="settings.clipboard.toggle">
        <source>Copy link to clipboard</source>
        <translation>Copy link to clipboard</translation>
    </message>
    <message id="settings.duplicates.toggle">
        <source>Check for duplicates before uploading</source>
        <translation>Check for duplicates before uploading</translation>
    </message>
    <message id="settings.language.label">
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message id="settings.notifications.toggle">
        <source>Show notifications</source>
        <translation>Show notifications</translation>
    </message>
    <message id="settings.section.behavior">
        <source>Behavior</source>
        <translation>Behavior</translation>
    </message>
    <message id="settings.section.connection">
        <source>Connection</source>
        <translation>Connection</translation>
    </message>
    <message id="settings.section.danger">
        <source>Danger zone</source>
        <translation>Danger zone</translation>
    </message>
    <message id="settings.section.language">
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message id="settings.server.label">
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message id="settings.startup.toggle">
        <source>Launch at login</source>
        <translation>Launch at login</translation>
    </message>
    <message id="settings.status.connected">
        <source>Connected</source>
        <translation>Connected</translation>
    </message>
    <message id="settings.title">
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message id="setup.api_key.help">
        <source>You can find your API key in your account settings on the server.</source>
        <translation>You can find your API key in your account settings on the server.</translation>
    </message>
    <message id="setup.api_key.label">
        <source>API key</source>
        <translation>API key</translation>
    </message>
    <message id="setup.api_key.placeholder">
        <source>Paste your API key</source>
        <translation>Paste your API key</translation>
    </message>
    <message id="setup.button.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="setup.button.connect">
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message id="setup.button.login">
        <source>Sign in</source>
        <translation>Sign in</translation>
    </message>
    <message id="setup.error.connection_failed">
        <source>Could not connect. Check the server address and the API key.</source>
        <translation>Could not connect. Check the server address and the API key.</translation>
    </message>
    <message id="setup.mode.api_key">
        <source>API key</source>
        <translation>API key</translation>
    </message>
    <message id="setup.mode.login">
        <source>Sign in</source>
        <translation>Sign in</translation>
    </message>
    <message id="setup.password.label">
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message id="setup.password.placeholder">
        <source>Your password</source>
        <translation>Your password</translation>
    </message>
    <message id="setup.server.label">
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message id="setup.server.placeholder">
        <source>https://files.example.com</source>
        <translation>https://files.example.com</translation>
    </message>
    <message id="setup.username.label">
        <source>User name</source>
        <translation>User name</translation>
    </message>
    <message id="setup.username.placeholder">
        <source>Your user name</source>
        <translation>Your user name</translation>
    </message>
    <message id="setup.welcome.subtitle">
        <source>Connect to your server to start sharing files.</source>
        <translation>Connect to your server to start sharing files.</translation>
    </message>
    <message id="setup.welcome.title">
        <source>Welcome to Sendova</source>
        <translation>Welcome to Sendova</translation>
    </message>
    <message id="setup_link.confirm.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="setup_link.confirm.connect">
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message id="setup_link.confirm.message">
        <source>A setup link asks Sendova to connect to this server and to keep an API key for it:

%1

Connect only if you opened this link yourself and trust this server.</source>
        <translation>A setup link asks Sendova to connect to this server and to keep an API key for it:

%1

Connect only if you opened this link yourself and trust this server.</translation>
    </message>
    <message id="setup_link.confirm.title">
        <source>Connect to this server?</source>
        <translation>Connect to this server?</translation>
    </message>
    <message id="setup_link.error.server_refused">
        <source>This setup link names a server address that Sendova cannot use. Only http:// and https:// addresses are accepted, so nothing was sent.</source>
        <translation>This setup link names a server address that Sendova cannot use. Only http:// and https:// addresses are accepted, so nothing was sent.</translation>
    </message>
    <message id="share.button.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="share.button.close">
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message id="share.button.copy_url">
        <source>Copy link</source>
        <translation>Copy link</translation>
    </message>
    <message id="share.error.cancelled_by_user">
        <source>Cancelled by the user</source>
        <translation>Cancelled by the user</translation>
    </message>
    <message id="share.error.could_not_get_file">
        <source>Could not get the shared file</source>
        <translation>Could not get the shared file</translation>
    </message>
    <message id="share.error.no_files_found">
        <source>No file was found to upload</source>
        <translation>No file was found to upload</translation>
    </message>
    <message id="share.error.no_files_received">
        <source>No files were received</source>
        <translation>No files were received</translation>
    </message>
    <message id="share.error.title">
        <source>Upload failed</source>
        <translation>Upload failed</translation>
    </message>
    <message id="share.error.unsupported_file_type">
        <source>This kind of item cannot be uploaded</source>
        <translation>This kind of item cannot be uploaded</translation>
    </message>
    <message id="share.note.first_file_only">
        <source>Only the first of %1 files is uploaded</source>
        <translation>Only the first of %1 files is uploaded</translation>
    </message>
    <message id="share.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparing file…</translation>
    </message>
    <message id="share.status.loading">
        <source>Loading file…</source>
        <translation>Loading file…</translation>
    </message>
    <message id="share.status.preparing">
        <source>Preparing…</source>
        <translation>Preparing…</translation>
    </message>
    <message id="share.status.uploaded">
        <source>Uploaded</source>
        <translation>Uploaded</translation>
    </message>
    <message id="share.status.uploading">
        <source>Uploading…</source>
        <translation>Uploading…</translation>
    </message>
    <message id="share.url.copied">
        <source>The link is on the clipboard</source>
        <translation>The link is on the clipboard</translation>
    </message>
    <message id="staged.name.clipboard">
        <source>Clipboard</source>
        <translation>Clipboard</translation>
    </message>
    <message id="staged.name.screenshot">
        <source>Screenshot</source>
        <translation>Screenshot</translation>
    </message>
    <message id="time.relative.day">
        <source>%1 day ago</source>
        <translation>%1 day ago</translation>
    </message>
    <message id="time.relative.days">
        <source>%1 days ago</source>
        <translation>%1 days ago</translation>
    </message>
    <message id="time.relative.hours">
        <source>%1 hr ago</source>
        <translation>%1 hr ago</translation>
    </message>
    <message id="time.relative.minutes">
        <source>%1 min ago</source>
        <translation>%1 min ago</translation>
    </message>
    <message id="time.relative.now">
        <source>just now</source>
        <translation>just now</translation>
    </message>
    <message id="time.relative.seconds">
        <source>%1 sec ago</source>
        <translation>%1 sec ago</translation>
    </message>
    <message id="time.relative.weeks">
        <source>%1 wk ago</source>
        <translation>%1 wk ago</translation>
    </message>
    <message id="tray.choose_file">
        <source>Upload a File…</source>
        <translation>Upload a File…</translation>
    </message>
    <message id="tray.open">
        <source>Open Sendova</source>
        <translation>Open Sendova</translation>
    </message>
    <message id="tray.upload_clipboard">
        <source>Upload Clipboard</source>
        <translation>Upload Clipboard</translation>
    </message>
    <message id="tray.upload_screenshot">
        <source>Upload Screenshot…</source>
        <translation>Upload Screenshot…</translation>
    </message>
    <message id="upload.button.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="upload.status.checking">
        <source>Checking for duplicates…</source>
        <translation>Checking for duplicates…</translation>
    </message>
    <message id="upload.status.completed">
        <source>Upload complete</source>
        <translation>Upload complete</translation>
    </message>
    <message id="upload.status.error">
        <source>Upload failed</source>
        <translation>Upload failed</translation>
    </message>
    <message id="upload.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparing file…</translation>
    </message>
    <message id="upload.status.ready">
        <source>Ready</source>
        <translation>Ready</translation>
    </message>
    <message id="upload.status.uploading">
        <source>Uploading…</source>
        <translation>Uploading…</translation>
    </message>
    <message id="upload.time.hours">
        <source>h left</source>
        <translation>h left</translation>
    </message>
    <message id="upload.time.minutes">
        <source>min left</source>
        <translation>min left</translation>
    </message>
    <message id="upload.time.seconds">
        <source>s left</source>
        <translation>s left</translation>
    </message>
</context>
</TS>
