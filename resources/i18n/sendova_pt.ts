<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
<context>
    <name></name>
    <message id="dropzone.drag_files">
        <source>Drop a file here</source>
        <translation>Solte um arquivo aqui</translation>
    </message>
    <message id="dropzone.or_browse">
        <source>or click to choose one, or paste with Ctrl+V</source>
        <translation>ou clique para escolher um, ou cole com Ctrl+V</translation>
    </message>
    <message id="error.clipboard.empty">
        <source>The clipboard holds nothing to upload: copy a file, an image or some text first.</source>
        <translation>A área de transferência não tem nada para enviar: copie primeiro um arquivo, uma imagem ou um texto.</translation>
    </message>
    <message id="error.clipboard.unreadable_image">
        <source>The image on the clipboard could not be read: copy it again, or save it as a file and upload that.</source>
        <translation>Não foi possível ler a imagem da área de transferência: copie-a de novo, ou salve-a como arquivo e envie esse arquivo.</translation>
    </message>
    <message id="error.connection_failed">
        <source>Could not connect to the server</source>
        <translation>Não foi possível conectar ao servidor</translation>
    </message>
    <message id="error.file.folder">
        <source>%1 is a folder; only files can be uploaded.</source>
        <translation>%1 é uma pasta; só é possível enviar arquivos.</translation>
    </message>
    <message id="error.file.no_permission">
        <source>You do not have permission to read %1.</source>
        <translation>Você não tem permissão para ler %1.</translation>
    </message>
    <message id="error.file.not_found">
        <source>The file %1 could not be found.</source>
        <translation>O arquivo %1 não foi encontrado.</translation>
    </message>
    <message id="error.file.not_regular">
        <source>%1 is not an ordinary file; only files can be uploaded.</source>
        <translation>%1 não é um arquivo comum; só é possível enviar arquivos.</translation>
    </message>
    <message id="error.file.unreadable">
        <source>The file %1 could not be read.</source>
        <translation>Não foi possível ler o arquivo %1.</translation>
    </message>
    <message id="error.file.write_failed">
        <source>Could not write %1.</source>
        <translation>Não foi possível gravar %1.</translation>
    </message>
    <message id="error.file_changed">
        <source>%1 changed while it was being uploaded, so it was not stored. Upload it again.</source>
        <translation>%1 foi alterado durante o envio e por isso não foi salvo. Envie-o novamente.</translation>
    </message>
    <message id="error.invalid_credentials">
        <source>Incorrect user name or password</source>
        <translation>Usuário ou senha incorretos</translation>
    </message>
    <message id="error.invalid_response">
        <source>The server sent an invalid response</source>
        <translation>O servidor enviou uma resposta inválida</translation>
    </message>
    <message id="error.invalid_url">
        <source>The server address is not valid</source>
        <translation>O endereço do servidor não é válido</translation>
    </message>
    <message id="error.net.cancelled">
        <source>The transfer to %1 was cancelled.</source>
        <translation>A transferência para %1 foi cancelada.</translation>
    </message>
    <message id="error.net.certificate_untrusted">
        <source>The security certificate of %1 is not trusted.</source>
        <translation>O certificado de segurança de %1 não é confiável.</translation>
    </message>
    <message id="error.net.connection_cut">
        <source>The connection to %1 was cut.</source>
        <translation>A conexão com %1 foi interrompida.</translation>
    </message>
    <message id="error.net.name_not_found">
        <source>The server name %1 could not be found.</source>
        <translation>O nome do servidor %1 não foi encontrado.</translation>
    </message>
    <message id="error.net.not_http">
        <source>%1 did not answer like a web server.</source>
        <translation>%1 não respondeu como um servidor web.</translation>
    </message>
    <message id="error.net.refused">
        <source>The server %1 refused the connection.</source>
        <translation>O servidor %1 recusou a conexão.</translation>
    </message>
    <message id="error.net.secure_connection_failed">
        <source>A secure connection to %1 could not be established.</source>
        <translation>Não foi possível estabelecer uma conexão segura com %1.</translation>
    </message>
    <message id="error.net.timed_out">
        <source>The server %1 took too long to answer.</source>
        <translation>O servidor %1 demorou demais para responder.</translation>
    </message>
    <message id="error.net.too_large">
        <source>The reply from %1 was too large to read.</source>
        <translation>A resposta de %1 era grande demais para ser lida.</translation>
    </message>
    <message id="error.net.unreachable">
        <source>Could not reach the server %1.</source>
        <translation>Não foi possível contatar o servidor %1.</translation>
    </message>
    <message id="error.network_error">
        <source>Network error: %1</source>
        <translation>Erro de rede: %1</translation>
    </message>
    <message id="error.save_failed">
        <source>Error saving configuration: %1</source>
        <translation>Erro ao salvar a configuração: %1</translation>
    </message>
    <message id="error.screenshot.failed">
        <source>The desktop could not take the screenshot.</source>
        <translation>A área de trabalho não conseguiu fazer a captura de tela.</translation>
    </message>
    <message id="error.server_error">
        <source>Server error (%1)</source>
        <translation>Erro do servidor (%1)</translation>
    </message>
    <message id="error.server_refused">
        <source>The server refused the upload.</source>
        <translation>O servidor recusou o envio.</translation>
    </message>
    <message id="error.tenant_inactive">
        <source>This account is inactive</source>
        <translation>Esta conta está inativa</translation>
    </message>
    <message id="error.token_invalid">
        <source>The setup link is invalid or has expired</source>
        <translation>O link de configuração é inválido ou expirou</translation>
    </message>
    <message id="error.upload.too_large">
        <source>%1 is larger than the server's limit of %2.</source>
        <translation>%1 é maior que o limite do servidor, de %2.</translation>
    </message>
    <message id="field.secret.hide">
        <source>Hide</source>
        <translation>Ocultar</translation>
    </message>
    <message id="field.secret.show">
        <source>Show</source>
        <translation>Mostrar</translation>
    </message>
    <message id="menu.clear">
        <source>Clear</source>
        <translation>Limpar</translation>
    </message>
    <message id="menu.dismiss">
        <source>Dismiss</source>
        <translation>Dispensar</translation>
    </message>
    <message id="menu.error">
        <source>Upload failed</source>
        <translation>Falha no envio</translation>
    </message>
    <message id="menu.quit">
        <source>Quit Sendova</source>
        <translation>Sair do Sendova</translation>
    </message>
    <message id="menu.recent">
        <source>Recent uploads</source>
        <translation>Envios recentes</translation>
    </message>
    <message id="menu.report_error">
        <source>Report problem</source>
        <translation>Relatar problema</translation>
    </message>
    <message id="menu.settings">
        <source>Settings</source>
        <translation>Configurações</translation>
    </message>
    <message id="menu.try_again">
        <source>Try again</source>
        <translation>Tentar novamente</translation>
    </message>
    <message id="notification.duplicate.body">
        <source>%1 was already uploaded. The link is ready.</source>
        <translation>%1 já havia sido enviado. O link está pronto.</translation>
    </message>
    <message id="notification.duplicate.press_copy">
        <source>%1 was already uploaded. Link ready — press Copy</source>
        <translation>%1 já havia sido enviado. Link pronto — clique em Copiar</translation>
    </message>
    <message id="notification.duplicate.title">
        <source>Already uploaded</source>
        <translation>Já enviado</translation>
    </message>
    <message id="notification.error.body">
        <source>%1 could not be uploaded: %2</source>
        <translation>Não foi possível enviar %1: %2</translation>
    </message>
    <message id="notification.error.title">
        <source>Upload failed</source>
        <translation>Falha no envio</translation>
    </message>
    <message id="notification.upload_complete.body">
        <source>%1 was uploaded. The link is ready.</source>
        <translation>%1 foi enviado. O link está pronto.</translation>
    </message>
    <message id="notification.upload_complete.press_copy">
        <source>%1 was uploaded. Link ready — press Copy</source>
        <translation>%1 foi enviado. Link pronto — clique em Copiar</translation>
    </message>
    <message id="notification.upload_complete.title">
        <source>Upload complete</source>
        <translation>Envio concluído</translation>
    </message>
    <message id="result.button.copy">
        <source>Copy</source>
        <translation>Copiar</translation>
    </message>
    <message id="result.button.ok">
        <source>Done</source>
        <translation>Concluído</translation>
    </message>
    <message id="result.button.open">
        <source>Open</source>
        <translation>Abrir</translation>
    </message>
    <message id="result.button.qr_code">
        <source>Show QR code</source>
        <translation>Mostrar código QR</translation>
    </message>
    <message id="result.duplicate.title">
        <source>Already uploaded</source>
        <translation>Já estava enviado</translation>
    </message>
    <message id="result.success.title">
        <source>Upload complete</source>
        <translation>Envio concluído</translation>
    </message>
    <message id="result.url.copied">
        <source>Link copied to the clipboard</source>
        <translation>Link copiado para a área de transferência</translation>
    </message>
    <message id="result.url.label">
        <source>Public link</source>
        <translation>Link público</translation>
    </message>
    <message id="result.url.press_copy">
        <source>Link ready — press Copy</source>
        <translation>Link pronto — clique em Copiar</translation>
    </message>
    <message id="server.override_note">
        <source>Requests go to %1 (SENDOVA_SERVER)</source>
        <translation>Os pedidos vão para %1 (SENDOVA_SERVER)</translation>
    </message>
    <message id="settings.api_key.label">
        <source>API key</source>
        <translation>Chave de API</translation>
    </message>
    <message id="settings.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="settings.button.close">
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message id="settings.button.logout">
        <source>Sign out and delete data</source>
        <translation>Sair e apagar dados</translation>
    </message>
    <message id="settings.button.save">
        <source>Save</source>
        <translation>Salvar</translation>
    </message>
    <message id="settings.button.test_connection">
        <source>Test connection</source>
        <translation>Testar conexão</translation>
    </message>
    <message id="settings.clipboard.toggle">
        <source>Copy link to clipboard</source>
        <translation>Copiar o link para a área de transferência</translation>
    </message>
    <message id="settings.duplicates.toggle">
        <source>Check for duplicates before uploading</source>
        <translation>Verificar duplicados antes de enviar</translation>
    </message>
    <message id="settings.language.label">
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message id="settings.notifications.toggle">
        <source>Show notifications</source>
        <translation>Mostrar notificações</translation>
    </message>
    <message id="settings.section.behavior">
        <source>Behavior</source>
        <translation>Comportamento</translation>
    </message>
    <message id="settings.section.connection">
        <source>Connection</source>
        <translation>Conexão</translation>
    </message>
    <message id="settings.section.danger">
        <source>Danger zone</source>
        <translation>Zona de perigo</translation>
    </message>
    <message id="settings.section.language">
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message id="settings.server.label">
        <source>Server</source>
        <translation>Servidor</translation>
    </message>
    <message id="settings.startup.toggle">
        <source>Launch at login</source>
        <translation>Abrir ao iniciar a sessão</translation>
    </message>
    <message id="settings.status.connected">
        <source>Connected</source>
        <translation>Conectado</translation>
    </message>
    <message id="settings.title">
        <source>Settings</source>
        <translation>Configurações</translation>
    </message>
    <message id="setup.api_key.help">
        <source>You can find your API key in your account settings on the server.</source>
        <translation>Você encontra sua chave de API nas configurações da sua conta no servidor.</translation>
    </message>
    <message id="setup.api_key.label">
        <source>API key</source>
        <translation>Chave de API</translation>
    </message>
    <message id="setup.api_key.placeholder">
        <source>Paste your API key</source>
        <translation>Cole sua chave de API</translation>
    </message>
    <message id="setup.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="setup.button.connect">
        <source>Connect</source>
        <translation>Conectar</translation>
    </message>
    <message id="setup.button.login">
        <source>Sign in</source>
        <translation>Entrar</translation>
    </message>
    <message id="setup.error.connection_failed">
        <source>Could not connect. Check the server address and the API key.</source>
        <translation>Não foi possível conectar. Verifique o endereço do servidor e a chave de API.</translation>
    </message>
    <message id="setup.mode.api_key">
        <source>API key</source>
        <translation>Chave de API</translation>
    </message>
    <message id="setup.mode.login">
        <source>Sign in</source>
        <translation>Entrar</translation>
    </message>
    <message id="setup.password.label">
        <source>Password</source>
        <translation>Senha</translation>
    </message>
    <message id="setup.password.placeholder">
        <source>Your password</source>
        <translation>Sua senha</translation>
    </message>
    <message id="setup.server.label">
        <source>Server</source>
        <translation>Servidor</translation>
    </message>
    <message id="setup.server.placeholder">
        <source>https://files.example.com</source>
        <translation>https://arquivos.exemplo.com</translation>
    </message>
    <message id="setup.username.label">
        <source>User name</source>
        <translation>Usuário</translation>
    </message>
    <message id="setup.username.placeholder">
        <source>Your user name</source>
        <translation>Seu nome de usuário</translation>
    </message>
    <message id="setup.welcome.subtitle">
        <source>Connect to your server to start sharing files.</source>
        <translation>Conecte-se ao seu servidor para começar a compartilhar arquivos.</translation>
    </message>
    <message id="setup.welcome.title">
        <source>Welcome to Sendova</source>
        <translation>Boas-vindas ao Sendova</translation>
    </message>
    <message id="setup_link.confirm.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="setup_link.confirm.connect">
        <source>Connect</source>
        <translation>Conectar</translation>
    </message>
    <message id="setup_link.confirm.message">
        <source>A setup link asks Sendova to connect to this server and to keep an API key for it:

%1

Connect only if you opened this link yourself and trust this server.</source>
        <translation>Um link de configuração pede ao Sendova que se conecte a este servidor e guarde uma chave de API para ele:

%1

Conecte-se apenas se você mesmo abriu este link e confia no servidor.</translation>
    </message>
    <message id="setup_link.confirm.title">
        <source>Connect to this server?</source>
        <translation>Conectar a este servidor?</translation>
    </message>
    <message id="setup_link.error.server_refused">
        <source>This setup link names a server address that Sendova cannot use. Only http:// and https:// addresses are accepted, so nothing was sent.</source>
        <translation>Este link de configuração indica um endereço de servidor que o Sendova não pode usar. Só são aceitos endereços http:// e https://, por isso nada foi enviado.</translation>
    </message>
    <message id="share.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="share.button.close">
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message id="share.button.copy_url">
        <source>Copy link</source>
        <translation>Copiar link</translation>
    </message>
    <message id="share.error.cancelled_by_user">
        <source>Cancelled by the user</source>
        <translation>Cancelado pelo usuário</translation>
    </message>
    <message id="share.error.could_not_get_file">
        <source>Could not get the shared file</source>
        <translation>Não foi possível obter o arquivo compartilhado</translation>
    </message>
    <message id="share.error.no_files_found">
        <source>No file was found to upload</source>
        <translation>Nenhum arquivo para enviar foi encontrado</translation>
    </message>
    <message id="share.error.no_files_received">
        <source>No files were received</source>
        <translation>Nenhum arquivo foi recebido</translation>
    </message>
    <message id="share.error.title">
        <source>Upload failed</source>
        <translation>Falha no envio</translation>
    </message>
    <message id="share.error.unsupported_file_type">
        <source>This kind of item cannot be uploaded</source>
        <translation>Este tipo de item não pode ser enviado</translation>
    </message>
    <message id="share.note.first_file_only">
        <source>Only the first of %1 files is uploaded</source>
        <translation>Só é enviado 1 dos %1 arquivos</translation>
    </message>
    <message id="share.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparando arquivo…</translation>
    </message>
    <message id="share.status.loading">
        <source>Loading file…</source>
        <translation>Carregando arquivo…</translation>
    </message>
    <message id="share.status.preparing">
        <source>Preparing…</source>
        <translation>Preparando…</translation>
    </message>
    <message id="share.status.uploaded">
        <source>Uploaded</source>
        <translation>Enviado</translation>
    </message>
    <message id="share.status.uploading">
        <source>Uploading…</source>
        <translation>Enviando…</translation>
    </message>
    <message id="share.url.copied">
        <source>The link is on the clipboard</source>
        <translation>O link está na área de transferência</translation>
    </message>
    <message id="staged.name.clipboard">
        <source>Clipboard</source>
        <translation>Área de transferência</translation>
    </message>
    <message id="staged.name.screenshot">
        <source>Screenshot</source>
        <translation>Captura de tela</translation>
    </message>
    <message id="time.relative.day">
        <source>%1 day ago</source>
        <translation>há %1 dia</translation>
    </message>
    <message id="time.relative.days">
        <source>%1 days ago</source>
        <translation>há %1 dias</translation>
    </message>
    <message id="time.relative.hours">
        <source>%1 hr ago</source>
        <translation>há %1 h</translation>
    </message>
    <message id="time.relative.minutes">
        <source>%1 min ago</source>
        <translation>há %1 min</translation>
    </message>
    <message id="time.relative.now">
        <source>just now</source>
        <translation>agora mesmo</translation>
    </message>
    <message id="time.relative.seconds">
        <source>%1 sec ago</source>
        <translation>há %1 s</translation>
    </message>
    <message id="time.relative.weeks">
        <source>%1 wk ago</source>
        <translation>há %1 sem</translation>
    </message>
    <message id="tray.choose_file">
        <source>Upload a File…</source>
        <translation>Enviar um arquivo…</translation>
    </message>
    <message id="tray.open">
        <source>Open Sendova</source>
        <translation>Abrir o Sendova</translation>
    </message>
    <message id="tray.upload_clipboard">
        <source>Upload Clipboard</source>
        <translation>Enviar a área de transferência</translation>
    </message>
    <message id="tray.upload_screenshot">
        <source>Upload Screenshot…</source>
        <translation>Enviar uma captura de tela…</translation>
    </message>
    <message id="upload.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="upload.status.checking">
        <source>Checking for duplicates…</source>
        <translation>Verificando duplicados…</translation>
    </message>
    <message id="upload.status.completed">
        <source>Upload complete</source>
        <translation>Envio concluído</translation>
    </message>
    <message id="upload.status.error">
        <source>Upload failed</source>
        <translation>Falha no envio</translation>
    </message>
    <message id="upload.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparando arquivo…</translation>
    </message>
    <message id="upload.status.ready">
        <source>Ready</source>
        <translation>Pronto</translation>
    </message>
    <message id="upload.status.uploading">
        <source>Uploading…</source>
        <translation>Enviando…</translation>
    </message>
    <message id="upload.time.hours">
        <source>h left</source>
        <translation>h restantes</translation>
    </message>
    <message id="upload.time.minutes">
        <source>min left</source>
        <translation>min restantes</translation>
    </message>
    <message id="upload.time.seconds">
        <source>s left</source>
        <translation>s restantes</translation>
    </message>
</context>
</TS>
